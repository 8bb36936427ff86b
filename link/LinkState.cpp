#include "link/LinkState.h"

namespace quorvik {

LinkState& Link() {
    static LinkState link;
    return link;
}

} // namespace quorvik
