#pragma once
// The MQTT options of the headless tool, read from its command line.

#include <string>

#include "mqtt/MqttEndpoint.h"

struct MqttToolOptions {
    bool bEnabled = false;
    std::string strUrl;
    std::string strPasswordFile;
    bool bOthersGiven = false;   // an option that means nothing without --mqtt
    MqttSettings settings;
};

extern const char MQTT_OPTION_HELP[];

// argv[i] begins with --mqtt: takes it and its value (moving i on); false with the reason.
bool ParseMqttToolOption(int argc, char** argv, int& i, MqttToolOptions& options, std::string& error);
// Once every option is read: the address checked, the password found, the port named.
bool FinishMqttToolOptions(MqttToolOptions& options, const std::string& portName, std::string& error);
