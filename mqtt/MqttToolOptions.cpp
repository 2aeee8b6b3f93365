#include "mqtt/MqttToolOptions.h"

const char MQTT_OPTION_HELP[] =
    "MQTT options (every log line published to a broker; the capture never waits for it):\n"
    "  --mqtt mqtt://[user[:password]@]host[:port]   or mqtts:// for TLS\n"
    "  --mqtt-topic PREFIX          topics PREFIX/<dongle>/... (default tessarin)\n"
    "  --mqtt-ca FILE               CA certificates for mqtts:// (default: the system's)\n"
    "  --mqtt-password-file FILE    the password, first line of FILE; without it and\n"
    "                               without one in the address, TESSARIN_MQTT_PASSWORD\n"
    "  --mqtt-commands              take the commands above from PREFIX/<dongle>/cmd\n";

bool ParseMqttToolOption(int argc, char** argv, int& i, MqttToolOptions& options, std::string& error)
{
    const std::string name = argv[i];
    if (name == "--mqtt-commands") {
        options.settings.bCommands = true;
        options.bOthersGiven = true;
        return true;
    }
    std::string* target = nullptr;
    if (name == "--mqtt")
        target = &options.strUrl;
    else if (name == "--mqtt-topic")
        target = &options.settings.strPrefix;
    else if (name == "--mqtt-ca")
        target = &options.settings.strCaFile;
    else if (name == "--mqtt-password-file")
        target = &options.strPasswordFile;
    if (target == nullptr) {
        error = "unknown option " + name;
        return false;
    }
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        error = name + " needs a value";
        return false;
    }
    *target = argv[++i];
    if (name == "--mqtt")
        options.bEnabled = true;
    else
        options.bOthersGiven = true;
    return true;
}

bool FinishMqttToolOptions(MqttToolOptions& options, const std::string& portName, std::string& error)
{
    if (!options.bEnabled) {
        if (options.bOthersGiven)
            error = "the MQTT options need --mqtt";
        return !options.bOthersGiven;
    }
    if (!ParseMqttUrl(options.strUrl, options.settings.endpoint, error))
        return false;
    if (!IsValidTopicPrefix(options.settings.strPrefix)) {
        error = "--mqtt-topic: a prefix of topic levels without + or #, not beginning or ending with /";
        return false;
    }
    if (!options.settings.strCaFile.empty() && !options.settings.endpoint.bTls) {
        error = "--mqtt-ca is for mqtts:// addresses";
        return false;
    }
    options.settings.strPortName = portName;
    return TakeMqttPassword(options.settings.endpoint, options.strPasswordFile, error);
}
