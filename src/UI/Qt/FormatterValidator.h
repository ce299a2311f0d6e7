#pragma once

#include "UI/TextFormatter.h"

#include <QValidator>

#include <memory>
#include <string>

class QLineEdit;

// Puts a TextFormatter in front of a line edit: every change of its text is judged before it shows.
// A refused change leaves the text as it was, caret included; a shortened one shows with the caret
// after what was kept. The formatter needs the text and selection from before the change, which the
// validator follows through the field's signals (Qt raises them only after judging a change).
// A text set by the program is judged like a paste over the whole field. Main thread.
class FormatterValidator final : public QValidator {
    Q_OBJECT
public:
    // Attaches a validator, owned by the field, that judges with `formatter`.
    static FormatterValidator* attach(QLineEdit* field, std::unique_ptr<TextFormatter> formatter);

    TextFormatter& formatter() const { return *formatter_; }

    // Never Invalid: Qt would not undo a refused text the program set, and would then let the next
    // refused edit through. A refusal answers the text from before the change instead.
    State validate(QString& input, int& pos) const override;

private:
    FormatterValidator(QLineEdit* field, std::unique_ptr<TextFormatter> formatter);
    // The field's text, selection and caret as they stand between changes.
    void remember();

    QLineEdit* const field_;
    const std::unique_ptr<TextFormatter> formatter_;
    std::u16string text_;
    TextFormatter::Range selection_;
    int cursor_ = 0;
};
