#include "UI/Qt/FormatterValidator.h"

#include <QLineEdit>

FormatterValidator* FormatterValidator::attach(QLineEdit* field, std::unique_ptr<TextFormatter> formatter)
{
    auto* validator = new FormatterValidator(field, std::move(formatter));
    field->setValidator(validator);
    return validator;
}

FormatterValidator::FormatterValidator(QLineEdit* field, std::unique_ptr<TextFormatter> formatter)
    : QValidator(field), field_(field), formatter_(std::move(formatter))
{
    remember();
    connect(field_, &QLineEdit::textChanged, this, &FormatterValidator::remember);
    connect(field_, &QLineEdit::selectionChanged, this, &FormatterValidator::remember);
    connect(field_, &QLineEdit::cursorPositionChanged, this, &FormatterValidator::remember);
}

void FormatterValidator::remember()
{
    text_ = field_->text().toStdU16String();
    cursor_ = field_->cursorPosition();
    selection_ = field_->hasSelectedText() ? TextFormatter::Range{field_->selectionStart(), field_->selectionLength()}
                                           : TextFormatter::Range{cursor_, 0};
}

QValidator::State FormatterValidator::validate(QString& input, int& pos) const
{
    const std::u16string proposed = input.toStdU16String();
    // Qt asks again for the text as it stands (before Return, after a replacement shows).
    if (proposed == text_)
        return Acceptable;
    const TextFormatter::Judgement judgement = formatter_->isPartialStringValid(proposed, text_, selection_);
    switch (judgement.outcome) {
    case TextFormatter::Judgement::Outcome::Accept:
        break;
    case TextFormatter::Judgement::Outcome::Refuse:
        input = QString::fromStdU16String(text_);
        pos = cursor_;
        break;
    case TextFormatter::Judgement::Outcome::Replace:
        input = QString::fromStdU16String(judgement.replacement);
        pos = static_cast<int>(judgement.selection.location);
        break;
    }
    return Acceptable;
}
