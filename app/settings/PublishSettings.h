#pragma once
// The window's publishing choices, kept in the settings key beside the sixteen values of
// CTessarinSettings (which stay as they are): on or off, the broker's address, the topic
// prefix, and whether commands are taken from the broker. User interface thread only.

#include <string>

#include "platform/Registry.h"

class CPublishSettings {
public:
    bool m_bPublish = false;               // "mqttPublish"
    std::string m_strBroker;               // "strMqttBroker": mqtt://[user@]host[:port] or mqtts://
    std::string m_strTopic = "tessarin";   // "strMqttTopic"
    bool m_bCommands = false;              // "mqttCommands"

    // Values missing or unreadable keep their defaults; true when the key was there.
    bool Load(RegKey rootKey = TREG_HKEY_CURRENT_USER);
    // True when every value was written.
    bool Save(RegKey rootKey = TREG_HKEY_CURRENT_USER) const;
};
