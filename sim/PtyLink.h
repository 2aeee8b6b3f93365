#pragma once
// The simulator's end of the line: a pseudo-terminal whose other side the program opens
// as a COM port, through a link COM<n> in the program's ports folder. The link goes when
// this object does.

#include <string>

class CPtyLink {
public:
    CPtyLink() = default;
    ~CPtyLink();
    CPtyLink(const CPtyLink&) = delete;
    CPtyLink& operator=(const CPtyLink&) = delete;

    // Opens the pair: the device side raw at once (echo would send our own frames back to
    // us), our side non-blocking. False with a reason.
    bool Open(std::string& error);

    // Links <ports folder>/COM<n> to the device, making the folder if need be. A link
    // left by a simulator that has ended is replaced; one held by a running simulator or
    // made by the user only when replaceLive.
    bool CreateLink(int comNumber, bool replaceLive, std::string& error);
    // Removes the link if it still points at our device.
    void RemoveLink();

    int MasterFd() const { return m_nMaster; }
    const std::string& DevicePath() const { return m_strDevice; }
    const std::string& LinkPath() const { return m_strLink; }

private:
    int m_nMaster = -1;
    int m_nSlave = -1;
    int m_nClaim = -1;
    std::string m_strDevice;
    std::string m_strLink;
};
