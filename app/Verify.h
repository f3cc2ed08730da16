// What a camera answered against what was sent: the values of a command and of the camera's
// reply line of the same word, slot by slot. With a definition every slot counts, whatever its
// type (Integer and Selection as integer texts, Bool by its on value, Float as numbers, String
// as text); without one the values are compared in order, numbers as numbers. Nothing here
// changes a property value: the property model reads replies as it always does.
#pragma once

#include <optional>
#include <string>
#include <vector>

class clCamPropertyMgr;
struct clCamCommand;

struct VerifyMismatch {
    std::string field, sent, received;
};

// The reply text after its '>' marker.
std::u16string_view ReplyText(std::u16string_view line);

// Compares the values of a sent command with the first reply line of the same command word.
// False when the command carries no values (nothing to verify); a missing reply line is one
// mismatch. manager may be null (no definition).
bool VerifyCommandReply(const clCamPropertyMgr* manager, std::u16string_view command,
                        const std::vector<std::u16string>& replyLines,
                        std::vector<VerifyMismatch>& out);

// The text of each slot of command c in a command or reply text's values (the text after the
// command word), in slot order: a token for each slot (spaces and commas separate tokens); a
// String slot that is the last one read takes the rest of the text. A slot without a token, or
// beyond those the command's style reads, has none.
std::vector<std::optional<std::u16string>>
SlotTexts(const clCamPropertyMgr& manager, const clCamCommand& c, std::u16string_view values);

// Splits a command or reply text into its command word and values the way replies are read: a
// word set off by delimiters, else a word glued to its number.
void SplitCommandWord(const clCamPropertyMgr* manager, std::u16string_view text,
                      std::u16string& word, std::u16string& values);
