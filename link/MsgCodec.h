#pragma once
// Encoders of the six node messages and the two decoders of received data. Stateless.

#include <cstdint>

#include "link/Frame.h"

// A received message header (the first seven data bytes of a DATA_INDICATION) and its data.
struct MsgHeader {
    uint8_t nTag1 = 0;
    uint16_t nAddr = 0;
    uint8_t nTag2 = 0;
    uint16_t nCluster = 0;
    uint8_t nLength = 0;   // n as the header states it
    int nDataCount = 0;    // message data bytes actually present and copied (<= n)
    uint8_t data[48] = {};
};

// Device information: status, IEEE address (most significant byte first), short address.
constexpr int DEVICE_INFO_LENGTH = 11;

struct DeviceInfo {
    uint8_t nStatus = 0;
    uint64_t nIeeeAddr = 0;   // data byte 1 is its most significant byte
    uint16_t nShortAddr = 0;
};

class CMsgCodec {
public:
    // Each encoder writes node address, 0xCA, cluster, n and the message data into out
    // (room for 17 bytes) and returns 6 + n. The caller puts 0xCB in front.
    int EncodeXyRssiReq(uint8_t* out, uint16_t addr) const;
    int EncodeBlindFindReq(uint8_t* out, uint16_t addr) const;
    int EncodeRefNodeConf(uint8_t* out, uint16_t addr, uint16_t x, uint16_t y) const;
    int EncodeBlindNodeConf(uint8_t* out, uint16_t addr, uint8_t a, uint8_t n, uint8_t mode,
                            uint16_t collectTime, uint16_t cycleTime, uint16_t reportAddr,
                            uint8_t reportEndpoint, uint8_t minRefNodes) const;
    int EncodeRefNodeReqConf(uint8_t* out, uint16_t addr) const;
    int EncodeBlindNodeReqConf(uint8_t* out, uint16_t addr) const;

    // Splits a message header from length bytes of frame data. Never reads past length
    // bytes nor copies more than 48. False when the header itself is incomplete; the
    // fields that were present are filled all the same, the rest are 0.
    bool DecodeMsgHeader(const uint8_t* data, int length, MsgHeader& out) const;
    // Splits device information; false (out untouched) when fewer than 11 bytes are given.
    bool DecodeDeviceInfo(const uint8_t* data, int length, DeviceInfo& out) const;
};

// Name of a received cluster 0x0011..0x0018, or null outside the table.
const char* ClusterName(uint16_t cluster);
