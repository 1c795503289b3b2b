// The file dialog's name completer as people expect it: Enter on a highlighted completion takes
// that file at once, and no completion list is left over the window when the dialog closes.
#pragma once

class QFileDialog;

// Once for each completer the dialog has; call it again once the dialog is shown.
void MakeCompletionsAccept(QFileDialog *dialog);
