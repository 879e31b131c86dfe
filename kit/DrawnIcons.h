#pragma once
// The tool bar's own pictures, for desktops whose icon theme lacks them: drawn as shapes at the
// size asked for, so they are sharp at every scale.

#include <QIcon>

// document-new, edit-delete, document-edit, dialog-ok, dialog-cancel, view-refresh, edit-find,
// document-print; an empty icon for any other name.
QIcon DrawnIcon(const QString& name);
