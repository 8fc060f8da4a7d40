// Nothing from the common controls is needed by the fuzzed code.
#pragma once
