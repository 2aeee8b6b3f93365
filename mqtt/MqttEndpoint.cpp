#include "mqtt/MqttEndpoint.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

constexpr int MQTT_PORT = 1883;
constexpr int MQTTS_PORT = 8883;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool Unescape(const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

}   // namespace

bool ParseMqttUrl(const std::string& url, MqttEndpoint& endpoint, std::string& error)
{
    endpoint = MqttEndpoint();
    std::string rest;
    if (url.compare(0, 7, "mqtt://") == 0) {
        rest = url.substr(7);
    } else if (url.compare(0, 8, "mqtts://") == 0) {
        endpoint.bTls = true;
        rest = url.substr(8);
    } else {
        error = "the broker's address begins with mqtt:// or mqtts://";
        return false;
    }
    // A trailing slash is harmless; a path is not something a broker has.
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos) {
        error = "the broker's address has no path: mqtt://[user[:password]@]host[:port]";
        return false;
    }
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = userInfo.find(':');
        endpoint.bHasPassword = colon != std::string::npos;
        if (!Unescape(userInfo.substr(0, colon), endpoint.strUser) ||
            (endpoint.bHasPassword && !Unescape(userInfo.substr(colon + 1), endpoint.strPassword))) {
            error = "a % in the user or password must be followed by two hex digits";
            return false;
        }
        if (endpoint.strUser.empty()) {
            error = "the user name before @ is empty";
            return false;
        }
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        // An IPv6 address in brackets keeps its colons.
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            error = "an IPv6 address needs its closing ]";
            return false;
        }
        endpoint.strHost = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') {
            error = "after ] comes :port or nothing";
            return false;
        }
        portText = rest.empty() ? "" : rest.substr(1);
    } else {
        const size_t colon = rest.find(':');
        endpoint.strHost = rest.substr(0, colon);
        if (colon != std::string::npos)
            portText = rest.substr(colon + 1);
        if (colon != std::string::npos && portText.empty())
            portText = "-";   // "host:" is a slip, not the default port
    }
    if (endpoint.strHost.empty()) {
        error = "the broker's host name is missing";
        return false;
    }
    endpoint.nPort = endpoint.bTls ? MQTTS_PORT : MQTT_PORT;
    if (!portText.empty()) {
        char* end = nullptr;
        const long port = std::strtol(portText.c_str(), &end, 10);
        if (!std::isdigit(static_cast<unsigned char>(portText[0])) || *end || port < 1 || port > 65535) {
            error = "the port is a number from 1 to 65535";
            return false;
        }
        endpoint.nPort = static_cast<int>(port);
    }
    return true;
}

bool TakeMqttPassword(MqttEndpoint& endpoint, const std::string& passwordFile, std::string& error)
{
    // A password goes with a user name only: there is nothing to send it with otherwise.
    if (endpoint.bHasPassword || endpoint.strUser.empty())
        return true;
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile);
        std::string line;
        if (!in || (!std::getline(in, line) && !in.eof())) {
            error = "cannot read the password file " + passwordFile;
            return false;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        endpoint.strPassword = line;
        endpoint.bHasPassword = true;
        return true;
    }
    const char* fromEnvironment = std::getenv("TESSARIN_MQTT_PASSWORD");
    if (fromEnvironment != nullptr) {
        endpoint.strPassword = fromEnvironment;
        endpoint.bHasPassword = true;
    }
    return true;
}

bool IsValidTopicPrefix(const std::string& prefix)
{
    if (prefix.empty() || prefix.front() == '/' || prefix.back() == '/')
        return false;
    return prefix.find_first_of("+#") == std::string::npos && prefix.find("//") == std::string::npos &&
           prefix.find('\0') == std::string::npos;
}

std::string DescribeEndpoint(const MqttEndpoint& endpoint)
{
    const bool v6 = endpoint.strHost.find(':') != std::string::npos;
    return (v6 ? "[" + endpoint.strHost + "]" : endpoint.strHost) + ":" + std::to_string(endpoint.nPort);
}
