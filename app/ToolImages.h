// The tool bar's 24 x 24 images, by the index the buttons use.
#pragma once

#include <QIcon>
#include <QString>

// Image index -> the icon theme's name for it; empty for an index no button uses.
QString ToolImageName(int index);
// The theme's image of that name (the freely licensed Adwaita set when the desktop's own theme
// lacks it), or a simple drawn one when no theme has it.
QIcon ToolImage(int index);
// The drawn one alone.
QIcon DrawnToolImage(int index);
