// What Pelora remembers from one run to the next, in the settings of the
// organisation "Tarvo Systems, Inc." (named by the application object):
//
//   Open/Folder     the folder of the last file picked in the Open dialog
//   Export/Folder   the folder of the last export
//   Export/Type     the last export's type, by its extension (".png")
//
// A folder that no longer exists is not offered.
#pragma once

#include <QString>

namespace viewer {

namespace settings {

// The Open dialog's first folder; empty when there is none to offer.
QString open_folder();
void remember_open(const QString& file);

// The Export dialog's first folder and type; empty when there is none.
QString export_folder();
QString export_type();
void remember_export(const QString& file, const QString& type);

}  // namespace settings

}  // namespace viewer
