#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

// The one seam every modal box and modal dialog of the system goes through. The running
// program shows real boxes; tests install a handler that answers them, so no test blocks.
namespace Dialogs {

enum class Kind { Error, Warning, Information, Question, Plain };
enum class Answer { Ok, Yes, No };

// Information, warning, error and plain (no icon) boxes have one OK button; a question has
// Yes and No.
Answer show(Kind kind, const QString &caption, const QString &text, QWidget *parent = nullptr);

// Runs a modal dialog (camera settings, calibration, ...) and returns its result code.
int exec(QDialog &dialog);

using BoxHandler = std::function<Answer(Kind kind, const QString &caption, const QString &text)>;
using DialogHandler = std::function<int(QDialog &dialog)>;

// An empty handler restores the real modal boxes and dialogs.
void setBoxHandler(BoxHandler handler);
void setDialogHandler(DialogHandler handler);

} // namespace Dialogs
