#include "UI/DeviceNameTextFormatter.h"
#include "UI/IpTextFormatter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Judgement = TextFormatter::Judgement;
using Outcome = Judgement::Outcome;
using Range = TextFormatter::Range;

// A field behind a formatter, edited as a user does: each edit replaces the selection (the caret
// when none) with the inserted text, and shows what the formatter lets through.
class Field {
public:
    explicit Field(TextFormatter& formatter) : formatter_(formatter) {}

    Judgement replace(Range selection, const std::u16string& inserted)
    {
        std::u16string proposed = text;
        proposed.replace(static_cast<size_t>(selection.location), static_cast<size_t>(selection.length), inserted);
        const Judgement judgement = formatter_.isPartialStringValid(proposed, text, selection);
        if (judgement.outcome == Outcome::Accept) {
            text = proposed;
            caret = selection.location + static_cast<int64_t>(inserted.size());
        } else if (judgement.outcome == Outcome::Replace) {
            text = judgement.replacement;
            caret = judgement.selection.location;
        }
        return judgement;
    }
    Judgement type(const std::u16string& inserted) { return replace({caret, 0}, inserted); }
    void typeEach(const std::u16string& keys)
    {
        for (const char16_t key : keys)
            type(std::u16string(1, key));
    }
    // Backspace: deletes the unit before the caret, the caret being where it was.
    Judgement backspace()
    {
        std::u16string proposed = text;
        proposed.erase(static_cast<size_t>(caret - 1), 1);
        const Judgement judgement = formatter_.isPartialStringValid(proposed, text, {caret, 0});
        if (judgement.outcome == Outcome::Accept) {
            text = proposed;
            --caret;
        } else if (judgement.outcome == Outcome::Replace) {
            text = judgement.replacement;
            caret = judgement.selection.location;
        }
        return judgement;
    }

    std::u16string text;
    int64_t caret = 0;

private:
    TextFormatter& formatter_;
};

TEST(IpTextFormatterTest, AnAddressOrACodeCanBeTypedAndNothingLonger)
{
    IpTextFormatter formatter;
    EXPECT_EQ(formatter.maxLength(), TextFormatter::kNoLimit);
    Field field(formatter);

    field.typeEach(u"1234567");
    EXPECT_EQ(field.text, u"123456") << "seven digits typed one by one leave the first six";
    EXPECT_EQ(field.caret, 6);
    EXPECT_EQ(formatter.maxLength(), IpTextFormatter::kCodeLength);

    Field address(formatter);
    address.typeEach(u"192.168.100.200");
    EXPECT_EQ(address.text, u"192.168.100.200") << "15 characters with dots are taken whole";
    EXPECT_EQ(formatter.maxLength(), IpTextFormatter::kAddressLength);
    const Judgement sixteenth = address.type(u"1");
    EXPECT_EQ(sixteenth.outcome, Outcome::Replace);
    EXPECT_EQ(address.text, u"192.168.100.200") << "a 16th character is dropped";
    EXPECT_EQ(address.caret, 15);

    Field pasted(formatter);
    const Judgement paste = pasted.type(u"ABCD1234");
    EXPECT_EQ(paste, (Judgement{Outcome::Replace, u"ABCD12", {6, 0}})) << "a paste of eight without a dot keeps six";
}

TEST(IpTextFormatterTest, OnlyDigitsCapitalsAndDotsPass)
{
    IpTextFormatter formatter;
    for (const std::u16string refused : {u"12a", u"1-2", u"ab12cd", u" 12", u"1,2"}) {
        SCOPED_TRACE(std::string(refused.begin(), refused.end()));
        EXPECT_EQ(formatter.isPartialStringValid(refused, u"", {0, 0}).outcome, Outcome::Refuse);
    }
    EXPECT_EQ(formatter.isPartialStringValid(u"AB12CD", u"", {0, 0}).outcome, Outcome::Accept);
    EXPECT_EQ(formatter.isPartialStringValid(u"10.0", u"", {0, 0}).outcome, Outcome::Accept);
}

// Units whose low byte is a digit, a capital or a dot ('1' in U+0131, 'A' in U+0141, '.' in U+022E,
// a full-width '5' in U+FF15 whose low byte is 0x15) are no such characters.
TEST(IpTextFormatterTest, CharactersBeyondAsciiAreRefusedWhateverTheirLowByte)
{
    IpTextFormatter formatter;
    for (const char16_t unit : {u'\u0131', u'\u0141', u'\u022E', u'\uFF15', u'\u3131'}) {
        SCOPED_TRACE(static_cast<int>(unit));
        const std::u16string proposed = std::u16string(u"12") + unit;
        EXPECT_EQ(formatter.isPartialStringValid(proposed, u"12", {2, 0}).outcome, Outcome::Refuse);
    }
    EXPECT_EQ(formatter.maxLength(), TextFormatter::kNoLimit) << "a look-alike of a dot set no limit";
}

TEST(IpTextFormatterTest, TheLimitStaysBetweenEdits)
{
    IpTextFormatter formatter;
    Field field(formatter);
    field.typeEach(u"1234567");
    EXPECT_EQ(formatter.maxLength(), 6);
    field.text.clear();
    field.caret = 0;
    field.typeEach(u"12.45");
    EXPECT_EQ(formatter.maxLength(), 15) << "a dot anywhere lifts it";
    field.typeEach(u"6789012345");
    EXPECT_EQ(field.text, u"12.456789012345");
    EXPECT_EQ(formatter.maxLength(), 15);
}

// Deleting the dot of "12.3456789" makes a 9-character text without a dot: the limit drops to 6,
// below the old text's 10 characters, so nothing of the edit fits. The edit ends at once, and the
// text stays as it was.
TEST(IpTextFormatterTest, ALimitBelowTheOldLengthKeepsTheOldTextWithoutFailing)
{
    IpTextFormatter formatter;
    Field field(formatter);
    field.typeEach(u"12.3456789");
    ASSERT_EQ(field.text, u"12.3456789");
    field.caret = 3;
    const Judgement judgement = field.backspace();
    EXPECT_EQ(judgement, (Judgement{Outcome::Replace, u"12.3456789", {3, 0}}));
    EXPECT_EQ(formatter.maxLength(), 6);

    // A selection typed over under the same limit: the selection goes, nothing is inserted.
    formatter.setMaxLength(6);
    const Judgement over = formatter.isPartialStringValid(u"12X3456789", u"12.3456789", {2, 1});
    EXPECT_EQ(over, (Judgement{Outcome::Replace, u"123456789", {2, 0}}));
}

TEST(TextFormatterTest, ASelectionOutsideTheTextIsHeldInside)
{
    DeviceNameTextFormatter formatter;
    formatter.setMaxLength(4);
    EXPECT_EQ(formatter.isPartialStringValid(u"abcdef", u"abc", {7, 3}),
              (Judgement{Outcome::Replace, u"abcd", {4, 0}}));
    EXPECT_EQ(formatter.isPartialStringValid(u"abcdef", u"abc", {-2, -1}),
              (Judgement{Outcome::Replace, u"aabc", {1, 0}}));
    formatter.setMaxLength(-5);
    EXPECT_EQ(formatter.isPartialStringValid(u"x", u"", {0, 0}), (Judgement{Outcome::Replace, u"", {0, 0}}));
}

TEST(DeviceNameTextFormatterTest, TheInitialLimitTakesAnyLengthAndASetOneShortensTheInsertion)
{
    DeviceNameTextFormatter formatter;
    EXPECT_EQ(formatter.isPartialStringValid(std::u16string(5'000, u'n'), u"", {0, 0}).outcome, Outcome::Accept);

    formatter.setMaxLength(8);
    Field field(formatter);
    field.type(u"Room");
    field.caret = 0;
    EXPECT_EQ(field.type(u"Living "), (Judgement{Outcome::Replace, u"LiviRoom", {4, 0}}));
    EXPECT_EQ(field.replace({4, 4}, u"ng room"), (Judgement{Outcome::Replace, u"Living r", {8, 0}}))
        << "typing over a selection frees its length";
}

} // namespace
