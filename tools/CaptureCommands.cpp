#include "tools/CaptureCommands.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "commands/InputRules.h"

const char CAPTURE_COMMAND_HELP[] =
    "Commands, one per line (addresses in hex, positions as 10.5, times in 100 ms):\n"
    "  ping                                    PING_REQUEST\n"
    "  xy                                      XY_RSSI_REQ to 0xFFFF\n"
    "  blindfind                               BLIND_FIND_REQ to 0xFFFF\n"
    "  refreq ADDR                             REF_NODE_REQ_CONF\n"
    "  blindreq ADDR                           BLIND_NODE_REQ_CONF\n"
    "  refconf ADDR X Y                        REF_NODE_CONF\n"
    "  blindconf ADDR A N MODE COLLECT CYCLE REPORT ENDPOINT MINREF\n"
    "                                          BLIND_NODE_CONF (MODE 0 polled, 1 auto)\n"
    "  help                                    this list\n"
    "  quit                                    stop the capture\n";

namespace {

// The dialogs read a field as scanf would and ignore what follows the number; on a
// command line a stray character is far more likely a typing slip, so a word must be
// the number and nothing else.
bool ShapedLike(FieldKind kind, const std::string& word)
{
    size_t i = 0;
    if (kind == FieldKind::Hex) {
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
            i = 2;
        if (i == word.size())
            return false;
        for (; i < word.size(); ++i)
            if (!std::isxdigit(static_cast<unsigned char>(word[i])))
                return false;
        return true;
    }
    size_t digits = 0;
    while (i < word.size() && std::isdigit(static_cast<unsigned char>(word[i]))) {
        ++i;
        ++digits;
    }
    if (digits == 0)
        return false;
    if (i == word.size())
        return true;
    if (kind != FieldKind::Position || (word[i] != '.' && word[i] != ','))
        return false;
    for (++i; i < word.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(word[i])))
            return false;
    return true;
}

bool ReadFields(const ParamField* fields, int count, const std::vector<std::string>& words,
                DongleMessage& msg, std::string& error)
{
    if (static_cast<int>(words.size()) != count + 1) {
        error = words[0] + " takes " + std::to_string(count) + " values (see help)";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const ParamField& field = fields[i];
        uint32_t value = 0;
        if (!ShapedLike(field.kind, words[i + 1]) || !ReadField(field, words[i + 1], &value)) {
            error = std::string(field.caption) + " " + field.message;
            return false;
        }
        msg.word[field.word] = value;
    }
    return true;
}

bool ReadAddress(const std::vector<std::string>& words, DongleMessage& msg, std::string& error)
{
    uint32_t addr = 0;
    if (words.size() != 2) {
        error = words[0] + " takes one address (see help)";
        return false;
    }
    if (!ShapedLike(FieldKind::Hex, words[1]) || !ReadNodeAddress(words[1], &addr)) {
        error = "Invalid Destination Address! Give a hex value between 0x0000 and 0xFFFF";
        return false;
    }
    msg.word[1] = addr;
    return true;
}

}   // namespace

CaptureCommand ParseCaptureCommand(const std::string& line, DongleMessage& msg, std::string& error)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    if (words.empty() || words[0][0] == '#')
        return CaptureCommand::NONE;

    msg = DongleMessage();
    const std::string& verb = words[0];
    auto noValues = [&](uint32_t type, uint32_t addr) {
        if (words.size() != 1) {
            error = verb + " takes no values";
            return CaptureCommand::INVALID;
        }
        msg.word[0] = type;
        msg.word[1] = addr;
        return CaptureCommand::SEND;
    };

    if (verb == "ping")
        return noValues(MSG_PING_REQUEST, 0);
    if (verb == "xy")
        return noValues(MSG_XY_RSSI_REQ, BROADCAST_ADDR);
    if (verb == "blindfind")
        return noValues(MSG_BLIND_FIND_REQ, BROADCAST_ADDR);
    if (verb == "refreq" || verb == "blindreq") {
        msg.word[0] = verb == "refreq" ? MSG_REF_NODE_REQ_CONF : MSG_BLIND_NODE_REQ_CONF;
        return ReadAddress(words, msg, error) ? CaptureCommand::SEND : CaptureCommand::INVALID;
    }
    if (verb == "refconf") {
        msg.word[0] = MSG_REF_NODE_CONF;
        return ReadFields(REF_FIELDS, REF_FIELD_COUNT, words, msg, error) ? CaptureCommand::SEND
                                                                          : CaptureCommand::INVALID;
    }
    if (verb == "blindconf") {
        msg.word[0] = MSG_BLIND_NODE_CONF;
        return ReadFields(BLIND_FIELDS, BLIND_FIELD_COUNT, words, msg, error) ? CaptureCommand::SEND
                                                                              : CaptureCommand::INVALID;
    }
    if (verb == "help" || verb == "?")
        return CaptureCommand::HELP;
    if (verb == "quit" || verb == "exit")
        return CaptureCommand::QUIT;
    error = "unknown command \"" + verb + "\" (try help)";
    return CaptureCommand::INVALID;
}
