// One datagram from a netlink socket, taken without waiting, with what every reader of the
// kernel's netlink answers and notifications has to know about it: whether it was cut short and
// whether the kernel sent it (any process may send to a netlink socket).
#pragma once

#include <errno.h>
#include <linux/netlink.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

namespace quillon::lnx {

struct NetlinkDatagram {
    ssize_t size = -1;  // -1: nothing read; errno says why (EAGAIN: nothing queued)
    bool truncated = false;
    bool fromKernel = false;
};

inline NetlinkDatagram ReceiveNetlink(int fd, std::vector<uint8_t>& buffer) {
    sockaddr_nl sender{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof(sender);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    NetlinkDatagram datagram;
    datagram.size = recvmsg(fd, &message, MSG_DONTWAIT);
    if (datagram.size < 0) return datagram;
    datagram.truncated = (message.msg_flags & MSG_TRUNC) != 0;
    datagram.fromKernel = sender.nl_pid == 0;
    return datagram;
}

}  // namespace quillon::lnx
