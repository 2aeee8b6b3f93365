#pragma once
// The command language of the headless capture tool, one command per line:
//   ping | xy | blindfind | refreq ADDR | blindreq ADDR | refconf ADDR X Y |
//   blindconf ADDR A N MODE COLLECT CYCLE REPORT ENDPOINT MINREF | help | quit
// Addresses are hexadecimal (an optional 0x), positions decimal text such as 10.5, the
// rest decimal. Values are checked as the window's parameter dialogs check them.

#include <string>

#include "link/DongleMessage.h"

enum class CaptureCommand {
    NONE,   // a blank line or a comment
    SEND,   // a message to send: the record is filled
    HELP,
    QUIT,
    INVALID,   // the error text says why
};

CaptureCommand ParseCaptureCommand(const std::string& line, DongleMessage& msg, std::string& error);

// The command list, for help texts.
extern const char CAPTURE_COMMAND_HELP[];
