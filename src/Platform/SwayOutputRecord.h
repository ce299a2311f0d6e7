#pragma once

#include <memory>
#include <string>

// The headless output made as the extended screen in the running sway, noted for the next run: sway
// 1.7 (wlroots 0.15) can neither disable nor remove a headless output, so without the note every run
// would leave one more output on the user's desktop. Kept in $XDG_RUNTIME_DIR (gone with the login)
// beside the sway socket it belongs to (another sway's names mean nothing), and locked while an
// extended screen shows the output, so that two programs never share it.
class SwayOutputRecord {
public:
    // The record of the sway at `swaySocket`, locked; null where there is no runtime folder or
    // another program holds the record.
    static std::unique_ptr<SwayOutputRecord> take(const std::string& swaySocket);
    ~SwayOutputRecord();
    SwayOutputRecord(const SwayOutputRecord&) = delete;
    SwayOutputRecord& operator=(const SwayOutputRecord&) = delete;

    // The output noted for this sway; empty where none is.
    const std::string& output() const { return output_; }
    // Notes `name` as this sway's output.
    void keep(const std::string& name);

    // A record longer than this is not one this class wrote (a socket path and an output name).
    static constexpr size_t kMaxSize = 4096;

private:
    SwayOutputRecord(int fd, std::string swaySocket, std::string output);

    const int fd_;
    const std::string swaySocket_;
    std::string output_;
};
