#pragma once

#include "Platform/Permissions.h"

#include <string>
#include <vector>

// Permissions whose answers a test sets, recording each request and page opened, one line each.
class RecordingPermissions final : public Permissions {
public:
    RecordingPermissions() : Permissions(Probes{}) {}

    bool accessibility = false;
    bool screenRecording = false;
    int64_t microphone = kMicrophoneDenied;
    // The answer a microphone request gets.
    bool microphoneAnswer = false;
    mutable std::vector<std::string> calls;

    void openPrivacySetting(int32_t index) const override
    {
        calls.push_back("openPrivacySetting " + std::to_string(index));
    }
    bool canRecordScreenPermissions() const override { return screenRecording; }
    int64_t canMicrophonePermissions() const override { return microphone; }
    bool canAccessibilityPermissions() const override { return accessibility; }
    void requestScreenRecordingPermissions() const override { calls.push_back("requestScreenRecording"); }
    void requestMicrophonePermissions(const std::function<void(bool granted)>& done) const override
    {
        calls.push_back("requestMicrophone");
        done(microphoneAnswer);
    }
    void requestAccessibilityPermissions() const override { calls.push_back("requestAccessibility"); }
};
