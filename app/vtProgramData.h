// Where the program finds what it ships: beside the binary in the build tree,
// under share/vantrel when installed.
#pragma once

#include <QString>

namespace vt::app
{

// The shipped folder `name` ("ProgramFiles", "Help"): the binary's folder
// holds it in the build tree, <prefix>/share/vantrel of an installed program.
// Empty when neither exists.
QString ShippedFolder(const QString &name);
// Test seam: where ShippedFolder(name) points; an empty path takes it back.
void SetShippedFolder(const QString &name, const QString &path);

// The compiled manual that stands for a help file name of the program's
// folder ("Help\English.chm"): a collection of the same name with the suffix
// ".qhc", first in the program's folder of the system, then among the
// shipped files. Empty when there is none.
QString ManualCollectionFor(const QString &helpFile);

// The application's help file: the program's folder + "Help\English.chm"
// until a language names another.
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString &fileName);

} // namespace vt::app
