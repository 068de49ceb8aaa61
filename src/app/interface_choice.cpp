#include "app/interface_choice.h"

namespace quillon {

bool InterfaceChoice::ListAdapters(std::vector<NetAdapter>& out) {
    std::vector<NetAdapter> all;
    if (!inner_.ListAdapters(all)) return false;
    out.clear();
    for (NetAdapter& adapter : all) {
        if (adapter.friendlyName == name_) out.push_back(std::move(adapter));
    }
    return true;
}

}  // namespace quillon
