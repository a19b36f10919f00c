#pragma once
// Identifier types: fixed-width byte identities and UUID-based identities.
#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace wm {

// N raw bytes. Built from outside data only through fromBytes, which refuses any other length.
template <std::size_t N, class Tag>
struct FixedBytesID {
    static constexpr std::size_t size = N;
    std::array<std::uint8_t, N> bytes{};

    static std::optional<FixedBytesID> fromBytes(ByteView data) {
        if (data.size() != N) return std::nullopt;
        FixedBytesID id;
        std::memcpy(id.bytes.data(), data.data(), N);
        return id;
    }
    ByteView view() const { return ByteView(bytes.data(), N); }
    Bytes data() const { return Bytes(bytes.begin(), bytes.end()); }
    // N*2 lower-case hex digits.
    std::string hex() const;

    friend auto operator<=>(const FixedBytesID&, const FixedBytesID&) = default;
    friend bool operator==(const FixedBytesID&, const FixedBytesID&) = default;
};

struct BlobIDTag {};
struct PackIDTag {};
struct RepositoryIDTag {};
struct DeviceIDTag {};

using BlobID = FixedBytesID<32, BlobIDTag>;
using PackID = FixedBytesID<32, PackIDTag>;
using RepositoryID = FixedBytesID<32, RepositoryIDTag>;
using DeviceID = FixedBytesID<16, DeviceIDTag>;

std::string hexOfBytes(const std::uint8_t* data, std::size_t size);

template <std::size_t N, class Tag>
std::string FixedBytesID<N, Tag>::hex() const {
    return hexOfBytes(bytes.data(), N);
}

// An RFC 4122 UUID.
struct UUID {
    std::array<std::uint8_t, 16> bytes{};

    static UUID random();  // version 4
    // Accepts the 36-character text form in either case (hyphens at 8-4-4-4-12),
    // and also 32 bare hex digits.
    static std::optional<UUID> parse(std::string_view text);
    // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F": upper-case, 36 characters.
    std::string uuidString() const;
    // "e621e1f8c36c495a93fc0c247a3e6e5f": the form used in file names.
    std::string compactHex() const;

    friend auto operator<=>(const UUID&, const UUID&) = default;
    friend bool operator==(const UUID&, const UUID&) = default;
};

template <class Tag>
struct UUIDIdentity {
    UUID value;
    static UUIDIdentity random() { return UUIDIdentity{UUID::random()}; }
    friend auto operator<=>(const UUIDIdentity&, const UUIDIdentity&) = default;
    friend bool operator==(const UUIDIdentity&, const UUIDIdentity&) = default;
};

struct SnapshotIDTag {};
struct DestinationIDTag {};
struct SourceIDTag {};
struct HoldIDTag {};

using SnapshotID = UUIDIdentity<SnapshotIDTag>;
using DestinationID = UUIDIdentity<DestinationIDTag>;
using SourceID = UUIDIdentity<SourceIDTag>;
using HoldID = UUIDIdentity<HoldIDTag>;

}  // namespace wm

template <std::size_t N, class Tag>
struct std::hash<wm::FixedBytesID<N, Tag>> {
    std::size_t operator()(const wm::FixedBytesID<N, Tag>& id) const noexcept {
        // The identities are digests or random: their first bytes are already uniform.
        std::size_t h;
        std::memcpy(&h, id.bytes.data(), sizeof h);
        return h;
    }
};

template <>
struct std::hash<wm::UUID> {
    std::size_t operator()(const wm::UUID& u) const noexcept {
        std::uint64_t a, b;
        std::memcpy(&a, u.bytes.data(), 8);
        std::memcpy(&b, u.bytes.data() + 8, 8);
        return static_cast<std::size_t>(a * 0x9E3779B97F4A7C15ULL ^ b);
    }
};

template <class Tag>
struct std::hash<wm::UUIDIdentity<Tag>> {
    std::size_t operator()(const wm::UUIDIdentity<Tag>& id) const noexcept { return std::hash<wm::UUID>{}(id.value); }
};
