// A hidraw device tree of plain files in a fresh temporary folder, pointed to by
// PELLVANE_SYSFS_ROOT and PELLVANE_DEV_ROOT while the object lives (the variables are put
// back and the folder removed afterwards).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellvane::testing {

// A report descriptor with one top-level application collection on `usagePage`.
std::vector<std::uint8_t> singleCollectionDescriptor(std::uint16_t usagePage, std::uint16_t usage);
std::string hidIdLine(std::uint16_t vendorId, std::uint16_t productId);

class FakeHidTree {
  public:
    FakeHidTree();
    ~FakeHidTree();
    FakeHidTree(const FakeHidTree&) = delete;
    FakeHidTree& operator=(const FakeHidTree&) = delete;

    const std::string& root() const { return root_; }
    std::string sysfsRoot() const { return root_ + "/sys"; }
    std::string devRoot() const { return root_ + "/dev"; }

    // Writes <sys>/class/hidraw/<node>/device/{uevent,report_descriptor} and an empty
    // <dev>/<node>.
    void addNode(const std::string& node, const std::string& uevent,
                 const std::vector<std::uint8_t>& descriptor);
    // The virtual controller's collection with `usage`.
    void addControllerNode(const std::string& node, std::uint16_t usage);
    void removeDeviceFile(const std::string& node);
    // Replaces <dev>/<node> with a symbolic link.
    void linkDeviceFile(const std::string& node, const std::string& target);
    // Everything written to <dev>/<node>.
    std::vector<std::uint8_t> written(const std::string& node) const;

  private:
    std::string root_;
    std::optional<std::string> savedSysfs_;
    std::optional<std::string> savedDev_;
};

}  // namespace pellvane::testing
