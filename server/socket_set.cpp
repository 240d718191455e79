#include "server/socket_set.h"

#include <algorithm>

namespace pellvane {

bool SocketSet::add(net::SocketHandle socket) {
    if (contains(socket)) {
        return true;
    }
    if (full()) {
        return false;
    }
    entries_[count_++] = socket;
    return true;
}

void SocketSet::remove(net::SocketHandle socket) {
    auto begin = entries_.begin();
    auto end = begin + count_;
    auto found = std::find(begin, end, socket);
    if (found == end) {
        return;
    }
    std::copy(found + 1, end, found);
    --count_;
}

bool SocketSet::contains(net::SocketHandle socket) const {
    auto span = entries();
    return std::find(span.begin(), span.end(), socket) != span.end();
}

}  // namespace pellvane
