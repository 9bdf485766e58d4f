#include "platform/SavePanel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

#include "platform/Application.h"

namespace lorvanta {

namespace {

// The dialog's own replace question saw the name as typed; one that gained the extension
// afterwards is asked about here.
bool confirmReplace(QWidget* parent, const QString& path) {
  QMessageBox box(
      QMessageBox::Warning, QFileDialog::tr("Save"),
      QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName()),
      QMessageBox::Yes | QMessageBox::No, parent);
  box.setObjectName("ReplaceQuestion");
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

// What the launch's panels chose, and the folder of the last file that a save then made.
struct Chosen {
  QString file;
  QString savedFolder;
};

Chosen& chosen() {
  static Chosen memory;
  return memory;
}

// The launch's first save starts in the user's music folder, or else at home; later ones
// in the folder of the last save. A chosen file that was never made (the save failed) is
// no save.
QString startFolder() {
  Chosen& memory = chosen();
  if (!memory.file.isEmpty() && QFileInfo(memory.file).isFile()) {
    memory.savedFolder = QFileInfo(memory.file).absolutePath();
  }
  memory.file.clear();
  if (!memory.savedFolder.isEmpty() && QFileInfo(memory.savedFolder).isDir()) return memory.savedFolder;
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && QFileInfo(music).isDir()) return music;
  return QDir::homePath();
}

// Selects the suggested name without its extension, so that typing replaces it.
void selectNameForTyping(QFileDialog* dialog) {
  auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (field == nullptr) return;
  const QString name = field->text();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  field->setFocus();
  field->setSelection(0, static_cast<int>(dot > 0 ? dot : name.size()));
}

}  // namespace

SavePanel::SavePanel() = default;

void SavePanel::setAllowedFileTypes(const QStringList& extensions) { allowedFileTypes_ = extensions; }

void SavePanel::setCanCreateDirectories(bool canCreate) { canCreateDirectories_ = canCreate; }

void SavePanel::setExtensionHidden(bool hidden) { extensionHidden_ = hidden; }

void SavePanel::setAllowsOtherFileTypes(bool allows) { allowsOtherFileTypes_ = allows; }

int SavePanel::runModal() {
  url_.reset();
  const std::vector<QWidget*> windows = applicationWindows();
  QFileDialog dialog(windows.empty() ? nullptr : windows.front());
  dialog.setObjectName("SavePanel");
  dialog.setWindowTitle(QFileDialog::tr("Save"));
  // Qt's own dialog: the same everywhere, and scriptable in tests.
  QFileDialog::Options options = QFileDialog::DontUseNativeDialog;
  if (!canCreateDirectories_) options |= QFileDialog::ReadOnly;
  dialog.setOptions(options);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList patterns;
  for (const QString& type : allowedFileTypes_) {
    if (!type.isEmpty()) patterns << "*." + type;
  }
  if (!patterns.isEmpty()) {
    QStringList filters{QString("%1 (%2)").arg(allowedFileTypes_.join(", ").toUpper(), patterns.join(' '))};
    if (allowsOtherFileTypes_) filters << QFileDialog::tr("All Files (*)");
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(allowedFileTypes_.front());
  }
  dialog.setDirectory(startFolder());
  dialog.selectFile(QCoreApplication::translate("SavePanel", "Speech.wav"));
  QTimer::singleShot(0, &dialog, [&dialog] { selectNameForTyping(&dialog); });
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return kCancel;

    const QString selected = dialog.selectedFiles().front();
    QString path = selected;
    // A name typed with a foreign extension keeps it only when other types are allowed.
    if (!allowedFileTypes_.isEmpty() && !allowsOtherFileTypes_ &&
        !allowedFileTypes_.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive)) {
      path += "." + allowedFileTypes_.front();
    }
    if (path != selected && QFileInfo::exists(path) && !confirmReplace(&dialog, path)) continue;
    url_ = QUrl::fromLocalFile(path);
    chosen().file = path;
    return kOK;
  }
}

std::optional<QUrl> SavePanel::URL() const { return url_; }

}  // namespace lorvanta
