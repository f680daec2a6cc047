// What a failed open or attach of an image means for trying it again: the rule that turns
// the service's code into a kind of wait.
#pragma once
#include <windows.h>

enum class FailureKind {
    Permanent,       // not a disk image, corrupt, unsupported, no rights: trying again won't help
    WaitingForDrive, // the drive or folder holding the image is not there (yet)
    Busy,            // another program holds the file for now
    Network,         // the share holding the image cannot be reached (yet)
};

// tries: how many times this image has failed so far, this failure included. Network codes
// win over a missing volume (an unreachable share is a missing volume too); access denied
// counts as busy until it has failed three times.
FailureKind ClassifyDiskFailure(DWORD code, bool volumePresent, unsigned tries);

// Whether the volume holding the path (its drive, mounted folder or share) answers now; true
// for a name that is not a full path, which no arriving volume can help. On a share this can
// block for as long as the network takes to give up: not on the UI thread.
bool ImageVolumePresent(const wchar_t* path);
