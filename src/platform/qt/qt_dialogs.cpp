// Common dialogs, and the layered-window function looked up by name.
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "platform/qt/qt_backend_impl.h"

namespace vesk::qt {
namespace {

constexpr ModuleHandle kUser32 = 0x7700;
QtBackend* g_backend = nullptr;

int SetLayeredWindowAttributesImpl(WindowId window, std::uint32_t, std::uint8_t alpha,
                                   std::uint32_t flags) {
  if (g_backend == nullptr) return 0;
  QWidget* w = g_backend->WindowWidget(window);
  if (w == nullptr || (g_backend->GetWindowLong(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0) {
    return 0;
  }
  if ((flags & LWA_ALPHA) != 0) w->setWindowOpacity(alpha / 255.0);
  return 1;
}

}  // namespace

QtBackend* CurrentBackend() { return g_backend; }
void SetCurrentBackend(QtBackend* backend) { g_backend = backend; }

// ---------------------------------------------------------------- common dialogs

std::optional<std::string> QtBackend::ShowFileDialog(WindowId owner,
                                                     const FileDialogRequest& request) {
  QFileDialog dialog(d_->Win(owner), ToQt(request.title));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  const bool mustExist = !request.save && (request.flags & OFN_FILEMUSTEXIST) != 0;
  dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite,
                   !request.save || (request.flags & OFN_OVERWRITEPROMPT) == 0);
  if (!request.filterPattern.empty()) {
    dialog.setNameFilter(ToQt(request.filterDescription + " (" + request.filterPattern + ")"));
  }
  if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(ToQt(request.defaultExtension));
  if (!request.initialName.empty()) dialog.selectFile(ToQt(request.initialName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::string{};
  return FromQt(QFileInfo(files.first()).absoluteFilePath());
}

int QtBackend::MessageBox(WindowId owner, const std::string& text, const std::string& caption,
                          std::uint32_t) {
  const auto answer = QMessageBox::question(d_->Win(owner), ToQt(caption), ToQt(text),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  return answer == QMessageBox::Yes ? IDYES : IDNO;
}
// ---------------------------------------------------------------- libraries

ModuleHandle QtBackend::LoadLibrary(const std::string& name) {
  return ToQt(name).compare(QStringLiteral("user32.dll"), Qt::CaseInsensitive) == 0 ? kUser32 : 0;
}

ProcAddress QtBackend::GetProcAddress(ModuleHandle module, const std::string& name) {
  if (module != kUser32 || name != "SetLayeredWindowAttributes") return nullptr;
  return reinterpret_cast<ProcAddress>(&SetLayeredWindowAttributesImpl);
}

void QtBackend::FreeLibrary(ModuleHandle) {}

}  // namespace vesk::qt
