#include "QtTestSupport.h"

#include "UI/IpTextFormatter.h"
#include "UI/Qt/FormatterValidator.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

class FormatterValidatorTest : public QtLoopFixture {
protected:
    FormatterValidatorTest()
    {
        FormatterValidator::attach(&field, std::make_unique<IpTextFormatter>());
        field.show();
        field.setFocus();
    }

    QLineEdit field;
};

TEST_F(FormatterValidatorTest, TypingIsJudgedAndTheCaretFollowsWhatWasKept)
{
    QTest::keyClicks(&field, "1234567");
    EXPECT_EQ(field.text(), "123456");
    EXPECT_EQ(field.cursorPosition(), 6);

    field.clear();
    field.insert("ABCD1234");
    EXPECT_EQ(field.text(), "ABCD12") << "a paste of eight without a dot keeps six";
    EXPECT_EQ(field.cursorPosition(), 6);
}

TEST_F(FormatterValidatorTest, ARefusedKeyLeavesTextAndCaretAsTheyWere)
{
    QTest::keyClicks(&field, "10.0.7");
    field.setCursorPosition(2);
    QTest::keyClicks(&field, "x-");
    EXPECT_EQ(field.text(), "10.0.7");
    EXPECT_EQ(field.cursorPosition(), 2);
    QTest::keyClick(&field, Qt::Key_5);
    EXPECT_EQ(field.text(), "105.0.7") << "the caret stayed where the refused keys found it";
}

TEST_F(FormatterValidatorTest, TypingOverASelectionKeepsWhatFits)
{
    QTest::keyClicks(&field, "12.3456789");
    // The dot goes: the limit drops to 6, below the old length, and the text stays.
    field.setCursorPosition(3);
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text(), "12.3456789");
    EXPECT_EQ(field.cursorPosition(), 3);

    field.setSelection(0, 10);
    QTest::keyClicks(&field, "AB");
    EXPECT_EQ(field.text(), "AB");
    EXPECT_EQ(field.cursorPosition(), 2);
}

TEST_F(FormatterValidatorTest, ReturnStillSubmitsAnAcceptedText)
{
    QSignalSpy submitted(&field, &QLineEdit::returnPressed);
    QTest::keyClicks(&field, "AB12CD");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(submitted.size(), 1);
}

} // namespace
