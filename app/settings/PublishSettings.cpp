#include "app/settings/PublishSettings.h"

#include <cstdint>

#include "app/settings/RegistryKey.h"
#include "app/settings/TessarinSettings.h"

namespace {

// Long enough for any broker address a user types.
constexpr uint32_t TEXT_FIELD = 1024;

bool ReadFlag(RegKey key, const char* name, bool& flag)
{
    uint8_t bytes[4] = {};
    uint32_t type = 0;
    uint32_t length = sizeof bytes;
    if (RegistryQueryValue(key, name, nullptr, &type, bytes, &length) != TREG_SUCCESS)
        return false;
    flag = (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
    return true;
}

bool ReadText(RegKey key, const char* name, std::string& text)
{
    char field[TEXT_FIELD] = {};
    uint32_t type = 0;
    uint32_t length = sizeof field - 1;   // the last zero stays: a full field still ends
    if (RegistryQueryValue(key, name, nullptr, &type, reinterpret_cast<uint8_t*>(field), &length) !=
        TREG_SUCCESS)
        return false;
    text = field;
    return true;
}

bool WriteFlag(RegKey key, const char* name, bool flag)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(flag ? 1 : 0), 0, 0, 0};
    return RegistrySetValue(key, name, 0, TREG_DWORD, bytes, sizeof bytes) == TREG_SUCCESS;
}

bool WriteText(RegKey key, const char* name, const std::string& text)
{
    if (text.size() >= TEXT_FIELD)
        return false;
    return RegistrySetValue(key, name, 0, TREG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()),
                            static_cast<uint32_t>(text.size() + 1)) == TREG_SUCCESS;
}

}   // namespace

bool CPublishSettings::Load(RegKey rootKey)
{
    CRegistryKey key;
    if (key.Open(rootKey, TESSARIN_SETTINGS_KEY, TREG_KEY_READ) != TREG_SUCCESS)
        return false;
    // Each value on its own: one that is missing keeps its default.
    ReadFlag(key.Handle(), "mqttPublish", m_bPublish);
    ReadText(key.Handle(), "strMqttBroker", m_strBroker);
    ReadText(key.Handle(), "strMqttTopic", m_strTopic);
    ReadFlag(key.Handle(), "mqttCommands", m_bCommands);
    (void)key.Close();   // nothing was written through a read key
    return true;
}

bool CPublishSettings::Save(RegKey rootKey) const
{
    CRegistryKey key;
    if (key.Create(rootKey, TESSARIN_SETTINGS_KEY, nullptr, TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE,
                   nullptr) != TREG_SUCCESS)
        return false;
    const bool written = WriteFlag(key.Handle(), "mqttPublish", m_bPublish) &&
                         WriteText(key.Handle(), "strMqttBroker", m_strBroker) &&
                         WriteText(key.Handle(), "strMqttTopic", m_strTopic) &&
                         WriteFlag(key.Handle(), "mqttCommands", m_bCommands);
    return key.Close() == TREG_SUCCESS && written;
}
