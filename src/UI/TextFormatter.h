#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Judges each edit of a text field before it shows: accepts it, refuses it (the field keeps its text),
// or puts a shortened text in its place. Texts and positions are in UTF-16 units, as the fields count
// them. Main thread.
class TextFormatter {
public:
    // A selection in a text: `length` units from `location`; a caret has length 0.
    struct Range {
        int64_t location = 0;
        int64_t length = 0;
        bool operator==(const Range&) const = default;
    };

    struct Judgement {
        enum class Outcome { Accept, Refuse, Replace };
        Outcome outcome = Outcome::Accept;
        // With Replace: the text that shows instead, and its caret.
        std::u16string replacement;
        Range selection;
        bool operator==(const Judgement&) const = default;

        static Judgement refuse() { return {Outcome::Refuse, {}, {}}; }
        static Judgement replace(std::u16string text, Range caret) { return {Outcome::Replace, std::move(text), caret}; }
    };

    // The largest signed 32-bit value: no limit in practice.
    static constexpr int64_t kNoLimit = 2'147'483'647;

    virtual ~TextFormatter() = default;

    int64_t maxLength() const { return maxLength_; }
    void setMaxLength(int64_t maxLength) { maxLength_ = maxLength; }

    // `proposed` is the text after the edit; `original` the text before it, whose selection was
    // `originalSelectedRange`.
    virtual Judgement isPartialStringValid(const std::u16string& proposed, const std::u16string& original,
                                           Range originalSelectedRange) = 0;

protected:
    // Accepts a proposed text within maxLength; a longer one keeps only what of its insertion (typed or
    // pasted over the original selection) still fits, with the caret after it. When the limit has
    // fallen below the original's length nothing of the insertion fits, and the original stays.
    Judgement limit(const std::u16string& proposed, const std::u16string& original, Range originalSelectedRange) const;

private:
    int64_t maxLength_ = kNoLimit;
};
