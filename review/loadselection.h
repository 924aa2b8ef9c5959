#pragma once

#include <QString>
#include <QStringList>

// Files named outside the load dialogs (on the command line, by a drop) become a
// selection like the one the dialog gives: absolute paths of files, where a
// folder stands for every file in it that the dialog would offer.

enum class LoadKind { Images, Tracks };

// The load dialog's name filter, "Image Files (*.tif *.tiff *.jpg *.png)" or
// "Text Files (*.txt)".
QString LoadDialogFilter(LoadKind kind);

// Expands paths into files, in name order, without repeats. A file is taken
// whatever its name, as one typed into the dialog would be. False when a path
// does not exist, is neither a file nor a folder, or is a folder holding no
// matching file; missing then names the first such path (absolute), and
// reason (if given) says which of these it is, in the words of a message.
bool ExpandLoadPaths(const QStringList &paths, LoadKind kind, QStringList &files, QString &missing,
                     QString *reason = nullptr);

// What a drop of these local paths loads: image files or one folder of images,
// or .txt files or one folder of them. False for anything else (several
// folders, a folder beside files, kinds mixed, a folder holding both kinds or
// neither, another kind of file), and then nothing is to be loaded.
bool DropSelection(const QStringList &paths, LoadKind &kind, QStringList &files);
