// Nothing from the common dialogs is needed by the fuzzed code.
#pragma once
