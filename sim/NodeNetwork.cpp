#include "sim/NodeNetwork.h"

#include <algorithm>
#include <cmath>

namespace {

// The radio channel the nodes live in: -dBm at one metre and the path-loss exponent.
constexpr double CHANNEL_A = 40.0;
constexpr double CHANNEL_EXPONENT = 2.5;

uint16_t ToQuarters(double metres)
{
    const double q = std::round(metres * 4.0);
    if (q <= 0.0)
        return 0;
    if (q >= 65535.0)
        return 65535;
    return static_cast<uint16_t>(q);
}

void Put16(uint8_t* out, uint16_t v)
{
    out[0] = static_cast<uint8_t>(v & 0xFF);
    out[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t Get16(const uint8_t* in)
{
    return static_cast<uint16_t>(in[0] | in[1] << 8);
}

struct Heard {
    double x, y;   // configured position of the reference node, metres
    int rssi;
};

}   // namespace

CNodeNetwork::CNodeNetwork(CSimRandom& rng, bool quiet, Clock::time_point now)
    : m_rng(rng), m_lastAdvance(now)
{
    const double refPlaces[][2] = {{2, 2}, {38, 2}, {2, 38}, {38, 38}, {20, 20}};
    uint16_t addr = 0x0101;
    for (const auto& place : refPlaces) {
        RefNode ref;
        ref.addr = addr++;
        ref.x = place[0];
        ref.y = place[1];
        ref.confX = ToQuarters(ref.x);
        ref.confY = ToQuarters(ref.y);
        m_refs.push_back(ref);
    }
    const double blindPlaces[][2] = {{10, 12}, {30, 25}, {18, 33}};
    addr = 0x0201;
    for (const auto& place : blindPlaces) {
        BlindNode blind;
        blind.addr = addr++;
        blind.x = place[0];
        blind.y = place[1];
        NewWaypoint(blind);
        m_blinds.push_back(blind);
    }
    if (!quiet) {
        m_blinds[0].conf.mode = 1;
        m_blinds[0].nextReport = now + CycleOf(m_blinds[0].conf);
    }
}

void CNodeNetwork::NewWaypoint(BlindNode& blind)
{
    blind.wayX = m_rng.Unit() * AREA;
    blind.wayY = m_rng.Unit() * AREA;
    blind.speed = 0.3 + 1.2 * m_rng.Unit();
}

void CNodeNetwork::Advance(Clock::time_point now)
{
    double dt = std::chrono::duration<double>(now - m_lastAdvance).count();
    if (dt <= 0.0)
        return;
    m_lastAdvance = now;
    for (BlindNode& blind : m_blinds) {
        double left = dt;
        // A long pause (the simulator stopped) may cross several waypoints.
        for (int legs = 0; left > 0.0 && legs < 16; ++legs) {
            const double dx = blind.wayX - blind.x, dy = blind.wayY - blind.y;
            const double dist = std::sqrt(dx * dx + dy * dy);
            const double step = blind.speed * left;
            if (step < dist) {
                blind.x += dx / dist * step;
                blind.y += dy / dist * step;
                break;
            }
            blind.x = blind.wayX;
            blind.y = blind.wayY;
            left -= dist / blind.speed;
            NewWaypoint(blind);
        }
    }
}

int CNodeNetwork::Rssi(double distance)
{
    const double d = std::max(distance, 0.5);
    double rssi = CHANNEL_A + 10.0 * CHANNEL_EXPONENT * std::log10(d);
    if (m_dRssiNoise > 0.0)
        rssi += m_dRssiNoise * m_rng.Gauss();
    return static_cast<int>(std::clamp(std::lround(rssi), 0L, 255L));
}

int CNodeNetwork::RefResponse(const RefNode& ref, uint8_t* out)
{
    Put16(out, ref.confX);
    Put16(out + 2, ref.confY);
    out[4] = static_cast<uint8_t>(Rssi(std::hypot(ref.x - DONGLE_X, ref.y - DONGLE_Y)));
    return REF_RSP_LENGTH;
}

int CNodeNetwork::BlindResponse(const BlindNode& blind, uint8_t* out)
{
    const PositionEstimate e = Locate(blind);
    out[0] = e.status;
    Put16(out + 1, e.x);
    Put16(out + 3, e.y);
    out[5] = e.used;
    out[6] = static_cast<uint8_t>(Rssi(std::hypot(blind.x - DONGLE_X, blind.y - DONGLE_Y)));
    return BLIND_RSP_LENGTH;
}

int CNodeNetwork::RefConfigData(const RefNode& ref, uint8_t* out)
{
    Put16(out, ref.confX);
    Put16(out + 2, ref.confY);
    return REF_CONF_LENGTH;
}

int CNodeNetwork::BlindConfigData(const BlindNode& blind, uint8_t* out)
{
    const BlindConfig& c = blind.conf;
    out[0] = c.a;
    out[1] = c.n;
    out[2] = c.mode;
    Put16(out + 3, c.collectTime);
    Put16(out + 5, c.cycleTime);
    Put16(out + 7, c.reportAddr);
    out[9] = c.reportEndpoint;
    out[10] = c.minRefNodes;
    return BLIND_CONF_LENGTH;
}

bool CNodeNetwork::ApplyRefConf(RefNode& ref, const uint8_t* data, int n)
{
    if (n < REF_CONF_LENGTH)
        return false;
    ref.confX = Get16(data);
    ref.confY = Get16(data + 2);
    return true;
}

bool CNodeNetwork::ApplyBlindConf(BlindNode& blind, const uint8_t* data, int n, Clock::time_point now)
{
    if (n < BLIND_CONF_LENGTH)
        return false;
    BlindConfig& c = blind.conf;
    c.a = data[0];
    c.n = data[1];
    c.mode = data[2];
    c.collectTime = Get16(data + 3);
    c.cycleTime = Get16(data + 5);
    c.reportAddr = Get16(data + 7);
    c.reportEndpoint = data[9];
    c.minRefNodes = data[10];
    // A node restarts its cycle timer with every new configuration.
    if (c.mode == 1)
        blind.nextReport = now + CycleOf(c);
    return true;
}

CNodeNetwork::Clock::duration CNodeNetwork::CycleOf(const BlindConfig& conf)
{
    // A cycle of 0 would report without pause; the node's timer ticks in 100 ms.
    const int units = std::max<int>(conf.cycleTime, 1);
    return std::chrono::milliseconds(100 * units);
}

PositionEstimate CNodeNetwork::Locate(const BlindNode& blind)
{
    PositionEstimate e;
    const BlindConfig& c = blind.conf;

    Heard heard[16];
    int count = 0;
    for (const RefNode& ref : m_refs) {
        const int rssi = Rssi(std::hypot(ref.x - blind.x, ref.y - blind.y));
        if (rssi <= RSSI_HEARD_LIMIT && count < 16)
            heard[count++] = Heard{ref.confX / 4.0, ref.confY / 4.0, rssi};
    }
    if (c.n == 0) {
        e.status = 2;
        return e;
    }
    std::sort(heard, heard + count, [](const Heard& p, const Heard& q) { return p.rssi < q.rssi; });
    count = std::min(count, 8);
    const int minimum = std::clamp<int>(c.minRefNodes, 1, 8);
    if (count < minimum) {
        e.status = 1;
        e.used = static_cast<uint8_t>(count);
        return e;
    }

    double d[8];
    for (int i = 0; i < count; ++i)
        d[i] = std::pow(10.0, (heard[i].rssi - static_cast<double>(c.a)) / c.n);

    double x = 0, y = 0;
    bool solved = false;
    if (count >= 3) {
        // Least squares on the circles less the last one, which makes them linear.
        const Heard& last = heard[count - 1];
        const double dl = d[count - 1];
        double saa = 0, sab = 0, sbb = 0, sac = 0, sbc = 0;
        for (int i = 0; i < count - 1; ++i) {
            const double a = 2.0 * (heard[i].x - last.x);
            const double b = 2.0 * (heard[i].y - last.y);
            const double cc = dl * dl - d[i] * d[i] + heard[i].x * heard[i].x - last.x * last.x +
                              heard[i].y * heard[i].y - last.y * last.y;
            saa += a * a;
            sab += a * b;
            sbb += b * b;
            sac += a * cc;
            sbc += b * cc;
        }
        const double det = saa * sbb - sab * sab;
        if (std::fabs(det) > 1e-9 * std::max(1.0, saa * sbb)) {
            x = (sac * sbb - sbc * sab) / det;
            y = (saa * sbc - sab * sac) / det;
            solved = std::isfinite(x) && std::isfinite(y);
        }
    }
    if (!solved) {
        // Too few or all in a line: lean towards the nodes heard best.
        double w = 0;
        x = y = 0;
        for (int i = 0; i < count; ++i) {
            const double wi = 1.0 / std::max(d[i] * d[i], 0.01);
            x += wi * heard[i].x;
            y += wi * heard[i].y;
            w += wi;
        }
        x /= w;
        y /= w;
    }
    e.x = ToQuarters(x);
    e.y = ToQuarters(y);
    e.used = static_cast<uint8_t>(count);
    return e;
}
