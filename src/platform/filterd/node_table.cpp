#include "node_table.h"

namespace nimbrel::platform::cf {

NodeTable::NodeTable(const struct stat& root) {
    Node& node = nodes_[FUSE_ROOT_ID];
    node.device = root.st_dev;
    node.inode = root.st_ino;
    // The kernel never forgets the root.
    node.lookups = 1;
    byFile_[{root.st_dev, root.st_ino}] = FUSE_ROOT_ID;
}

void NodeTable::setParentLocked(Node& node, fuse_ino_t parent) {
    if (node.parent == parent) return;
    if (auto old = nodes_.find(node.parent); old != nodes_.end()) {
        --old->second.children;
        const fuse_ino_t oldId = node.parent;
        node.parent = parent;
        ++nodes_[parent].children;
        dropLocked(oldId);
        return;
    }
    node.parent = parent;
    ++nodes_[parent].children;
}

fuse_ino_t NodeTable::remember(fuse_ino_t parent, const std::string& name, const struct stat& st) {
    std::lock_guard lock(mutex_);
    if (!nodes_.count(parent)) return 0;
    fuse_ino_t id = 0;
    if (auto found = byFile_.find({st.st_dev, st.st_ino}); found != byFile_.end()) {
        id = found->second;
    } else {
        id = next_++;
        Node& node = nodes_[id];
        node.device = st.st_dev;
        node.inode = st.st_ino;
        byFile_[{st.st_dev, st.st_ino}] = id;
    }
    Node& node = nodes_[id];
    ++node.lookups;
    if (id != FUSE_ROOT_ID) {
        // A file with several names is reached by the one it was last found under.
        node.name = name;
        setParentLocked(node, parent);
    }
    return id;
}

void NodeTable::dropLocked(fuse_ino_t id) {
    while (id != FUSE_ROOT_ID) {
        auto found = nodes_.find(id);
        if (found == nodes_.end() || found->second.lookups > 0 || found->second.children > 0) return;
        const fuse_ino_t parent = found->second.parent;
        byFile_.erase({found->second.device, found->second.inode});
        nodes_.erase(found);
        auto up = nodes_.find(parent);
        if (up == nodes_.end()) return;
        --up->second.children;
        id = parent;
    }
}

void NodeTable::forget(fuse_ino_t id, std::uint64_t lookups) {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    if (found == nodes_.end() || id == FUSE_ROOT_ID) return;
    found->second.lookups -= std::min(lookups, found->second.lookups);
    dropLocked(id);
}

std::optional<std::string> NodeTable::relativeLocked(fuse_ino_t id) const {
    std::string path;
    while (id != FUSE_ROOT_ID) {
        auto found = nodes_.find(id);
        if (found == nodes_.end()) return std::nullopt;
        path = path.empty() ? found->second.name : found->second.name + "/" + path;
        id = found->second.parent;
    }
    return path.empty() ? std::string(".") : path;
}

std::optional<std::string> NodeTable::relative(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    return relativeLocked(id);
}

std::optional<std::string> NodeTable::relative(fuse_ino_t parent, const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto path = relativeLocked(parent);
    if (!path) return std::nullopt;
    return *path == "." ? name : *path + "/" + name;
}

fuse_ino_t NodeTable::find(const struct stat& st) const {
    std::lock_guard lock(mutex_);
    auto found = byFile_.find({st.st_dev, st.st_ino});
    return found == byFile_.end() ? 0 : found->second;
}

void NodeTable::moved(fuse_ino_t parent, const std::string& name, const struct stat& st) {
    std::lock_guard lock(mutex_);
    auto found = byFile_.find({st.st_dev, st.st_ino});
    if (found == byFile_.end() || found->second == FUSE_ROOT_ID || !nodes_.count(parent)) return;
    Node& node = nodes_[found->second];
    node.name = name;
    setParentLocked(node, parent);
}

std::optional<CacheStamp> NodeTable::dataStamp(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    return found == nodes_.end() ? std::nullopt : found->second.data;
}

void NodeTable::setDataStamp(fuse_ino_t id, const CacheStamp& stamp) {
    std::lock_guard lock(mutex_);
    if (auto found = nodes_.find(id); found != nodes_.end()) found->second.data = stamp;
}

std::optional<CacheStamp> NodeTable::listingStamp(fuse_ino_t id) const {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(id);
    return found == nodes_.end() ? std::nullopt : found->second.listing;
}

void NodeTable::setListingStamp(fuse_ino_t id, const CacheStamp& stamp) {
    std::lock_guard lock(mutex_);
    if (auto found = nodes_.find(id); found != nodes_.end()) found->second.listing = stamp;
}

}  // namespace nimbrel::platform::cf
