#include "link/MsgCodec.h"

#include <cstring>

namespace {

enum : uint16_t {
    CLUSTER_XY_RSSI_REQ = 0x0011,
    CLUSTER_BLIND_FIND_REQ = 0x0013,
    CLUSTER_REF_NODE_CONF = 0x0015,
    CLUSTER_BLIND_NODE_CONF = 0x0016,
    CLUSTER_REF_NODE_REQ_CONF = 0x0017,
    CLUSTER_BLIND_NODE_REQ_CONF = 0x0018,
};

void PutLe16(uint8_t* out, uint16_t value)
{
    out[0] = static_cast<uint8_t>(value & 0xFF);
    out[1] = static_cast<uint8_t>(value >> 8);
}

// Node address, second tag, cluster and n: the header after the caller's first tag.
int PutHeader(uint8_t* out, uint16_t addr, uint16_t cluster, uint8_t n)
{
    PutLe16(out, addr);
    out[2] = MSG_TAG_SECOND;
    PutLe16(out + 3, cluster);
    out[5] = n;
    return 6;
}

}   // namespace

int CMsgCodec::EncodeXyRssiReq(uint8_t* out, uint16_t addr) const
{
    return PutHeader(out, addr, CLUSTER_XY_RSSI_REQ, 0);
}

int CMsgCodec::EncodeBlindFindReq(uint8_t* out, uint16_t addr) const
{
    return PutHeader(out, addr, CLUSTER_BLIND_FIND_REQ, 0);
}

int CMsgCodec::EncodeRefNodeConf(uint8_t* out, uint16_t addr, uint16_t x, uint16_t y) const
{
    int at = PutHeader(out, addr, CLUSTER_REF_NODE_CONF, 4);
    PutLe16(out + at, x);
    PutLe16(out + at + 2, y);
    return at + 4;
}

int CMsgCodec::EncodeBlindNodeConf(uint8_t* out, uint16_t addr, uint8_t a, uint8_t n, uint8_t mode,
                                   uint16_t collectTime, uint16_t cycleTime, uint16_t reportAddr,
                                   uint8_t reportEndpoint, uint8_t minRefNodes) const
{
    int at = PutHeader(out, addr, CLUSTER_BLIND_NODE_CONF, 11);
    out[at] = a;
    out[at + 1] = n;
    out[at + 2] = mode;
    PutLe16(out + at + 3, collectTime);
    PutLe16(out + at + 5, cycleTime);
    PutLe16(out + at + 7, reportAddr);
    out[at + 9] = reportEndpoint;
    out[at + 10] = minRefNodes;
    return at + 11;
}

int CMsgCodec::EncodeRefNodeReqConf(uint8_t* out, uint16_t addr) const
{
    return PutHeader(out, addr, CLUSTER_REF_NODE_REQ_CONF, 0);
}

int CMsgCodec::EncodeBlindNodeReqConf(uint8_t* out, uint16_t addr) const
{
    return PutHeader(out, addr, CLUSTER_BLIND_NODE_REQ_CONF, 0);
}

bool CMsgCodec::DecodeMsgHeader(const uint8_t* data, int length, MsgHeader& out) const
{
    out = MsgHeader();
    if (data == nullptr || length < 1)
        return false;
    // A short frame still shows what it carries: each field is read only if present.
    out.nTag1 = data[0];
    if (length >= 3)
        out.nAddr = static_cast<uint16_t>(data[1] | data[2] << 8);
    if (length >= 4)
        out.nTag2 = data[3];
    if (length >= 6)
        out.nCluster = static_cast<uint16_t>(data[4] | data[5] << 8);
    if (length < MSG_HEADER_LENGTH)
        return false;
    out.nLength = data[6];

    // n is the sender's claim; only the bytes really present are shown.
    int count = out.nLength;
    if (count > length - MSG_HEADER_LENGTH)
        count = length - MSG_HEADER_LENGTH;
    if (count > static_cast<int>(sizeof out.data))
        count = static_cast<int>(sizeof out.data);
    out.nDataCount = count;
    if (count > 0)
        std::memcpy(out.data, data + MSG_HEADER_LENGTH, static_cast<size_t>(count));
    return true;
}

bool CMsgCodec::DecodeDeviceInfo(const uint8_t* data, int length, DeviceInfo& out) const
{
    if (data == nullptr || length < DEVICE_INFO_LENGTH)
        return false;
    out.nStatus = data[0];
    uint64_t ieee = 0;
    for (int i = 1; i <= 8; ++i)
        ieee = ieee << 8 | data[i];
    out.nIeeeAddr = ieee;
    out.nShortAddr = static_cast<uint16_t>(data[9] | data[10] << 8);
    return true;
}

const char* ClusterName(uint16_t cluster)
{
    static const char* const names[] = {
        "REF_REQ",  "REF_RSP",    "BLIND_REQ",    "BLIND_RSP",
        "REF_CONF", "BLIND_CONF", "REF_REQ_CONF", "BLIND_REQ_CONF",
    };
    if (cluster < 0x0011 || cluster > 0x0018)
        return nullptr;
    return names[cluster - 0x0011];
}
