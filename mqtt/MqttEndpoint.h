#pragma once
// Where the capture is published and what to publish: the broker's address as the user
// writes it, mqtt://[user[:password]@]host[:port] or mqtts:// for TLS, and the options
// that go with it.

#include <string>

struct MqttEndpoint {
    bool bTls = false;
    std::string strUser;
    std::string strPassword;
    bool bHasPassword = false;
    std::string strHost;
    int nPort = 0;
};

struct MqttSettings {
    MqttEndpoint endpoint;
    std::string strPrefix = "tessarin";
    std::string strCaFile;   // empty: the system's certificate store
    bool bCommands = false;
    std::string strPortName;   // the dongle's name in topics until its address is known
};

// Fills endpoint from url; false with the reason in error. User and password may carry
// %XX escapes (a password with "@" or ":" in it).
bool ParseMqttUrl(const std::string& url, MqttEndpoint& endpoint, std::string& error);

// The password when the address gave none: from the file (its first line) when a file
// is named, else from the environment variable TESSARIN_MQTT_PASSWORD when set. False
// with the reason when the file cannot be read.
bool TakeMqttPassword(MqttEndpoint& endpoint, const std::string& passwordFile, std::string& error);

// A prefix is one or more topic levels without wildcards.
bool IsValidTopicPrefix(const std::string& prefix);

// "host:port" for messages (the password never).
std::string DescribeEndpoint(const MqttEndpoint& endpoint);
