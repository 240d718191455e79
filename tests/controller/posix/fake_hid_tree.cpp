#include "tests/controller/posix/fake_hid_tree.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pellvane::testing {
namespace {

std::optional<std::string> currentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

void writeFile(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

std::vector<std::uint8_t> singleCollectionDescriptor(std::uint16_t usagePage, std::uint16_t usage) {
    const auto low = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    const auto high = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {0x06, low(usagePage), high(usagePage),
            0x0A, low(usage),     high(usage),
            0xA1, 0x01,           0x15,
            0x00, 0x26,           0xFF,
            0x00, 0x75,           0x08,
            0x95, 0x40,           0x09,
            0x01, 0x91,           0x02,
            0xC0};
}

std::string hidIdLine(std::uint16_t vendorId, std::uint16_t productId) {
    char line[64];
    std::snprintf(line, sizeof line, "HID_ID=0003:%08X:%08X", vendorId, productId);
    return line;
}

FakeHidTree::FakeHidTree()
    : savedSysfs_(currentValue("PELLVANE_SYSFS_ROOT")),
      savedDev_(currentValue("PELLVANE_DEV_ROOT")) {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellvane-hid-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    root_ = pattern;
    std::filesystem::create_directories(sysfsRoot() + "/class/hidraw");
    std::filesystem::create_directories(devRoot());
    setenv("PELLVANE_SYSFS_ROOT", sysfsRoot().c_str(), 1);
    setenv("PELLVANE_DEV_ROOT", devRoot().c_str(), 1);
}

FakeHidTree::~FakeHidTree() {
    restore("PELLVANE_SYSFS_ROOT", savedSysfs_);
    restore("PELLVANE_DEV_ROOT", savedDev_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void FakeHidTree::addNode(const std::string& node, const std::string& uevent,
                          const std::vector<std::uint8_t>& descriptor) {
    const std::filesystem::path device = sysfsRoot() + "/class/hidraw/" + node + "/device";
    std::filesystem::create_directories(device);
    writeFile(device / "uevent", uevent.data(), uevent.size());
    writeFile(device / "report_descriptor", descriptor.data(), descriptor.size());
    writeFile(devRoot() + "/" + node, "", 0);
}

void FakeHidTree::addControllerNode(const std::string& node, std::uint16_t usage) {
    addNode(
        node,
        "DRIVER=hid-generic\n" + hidIdLine(0x00FF, 0xBACC) +
            "\nHID_NAME=Pellvane Virtual Controller\nMODALIAS=hid:b0003g0001v000000FFp0000BACC\n",
        singleCollectionDescriptor(0xFF00, usage));
}

void FakeHidTree::removeDeviceFile(const std::string& node) {
    std::filesystem::remove(devRoot() + "/" + node);
}

void FakeHidTree::linkDeviceFile(const std::string& node, const std::string& target) {
    removeDeviceFile(node);
    std::filesystem::create_symlink(target, devRoot() + "/" + node);
}

std::vector<std::uint8_t> FakeHidTree::written(const std::string& node) const {
    std::ifstream file(devRoot() + "/" + node, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace pellvane::testing
