#pragma once
// The three viewers share the site model and the settings files; where their
// copies differ, the difference is chosen by the viewer variant.
#include <cstdint>

enum class ViewerVariant {
    Network, // the network viewer
    Backup,  // the backup viewer: the last four bytes of a DVR as one 32-bit value, its own group defaults
    Event,   // the event viewer: a polling flag in the DVR, cameras without a group name
};

// First four bytes of every settings file.
constexpr uint32_t kSettingsStampNetwork = 20080824; // network and backup viewers
constexpr uint32_t kSettingsStampEvent = 20080501;

constexpr uint32_t SettingsStampOf(ViewerVariant variant)
{
    return variant == ViewerVariant::Event ? kSettingsStampEvent : kSettingsStampNetwork;
}
