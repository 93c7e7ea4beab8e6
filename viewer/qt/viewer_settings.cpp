#include "viewer/qt/viewer_settings.h"

#include <QFileInfo>
#include <QSettings>

namespace viewer {

namespace settings {

namespace {

const QString kOpenFolder = QStringLiteral("Open/Folder");
const QString kExportFolder = QStringLiteral("Export/Folder");
const QString kExportType = QStringLiteral("Export/Type");

QString existing_folder(const QString& key) {
    const QString folder = QSettings().value(key).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

}  // namespace

QString open_folder() {
    return existing_folder(kOpenFolder);
}

void remember_open(const QString& file) {
    QSettings().setValue(kOpenFolder, QFileInfo(file).absolutePath());
}

QString export_folder() {
    return existing_folder(kExportFolder);
}

QString export_type() {
    return QSettings().value(kExportType).toString();
}

void remember_export(const QString& file, const QString& type) {
    QSettings settings;
    settings.setValue(kExportFolder, QFileInfo(file).absolutePath());
    settings.setValue(kExportType, type);
}

}  // namespace settings

}  // namespace viewer
