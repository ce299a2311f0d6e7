#pragma once

#include "UI/HelpView.h"
#include "UI/QualityWindowView.h"

#include <string>
#include <vector>

// The settings popover's and the quality picker's views for tests: each call is one line of text in a
// list the two share, in order.
class RecordingQualityView final : public QualityWindowView {
public:
    explicit RecordingQualityView(std::vector<std::string>& calls) : calls_(calls) {}

    void showCheckMark(size_t index) override { calls_.push_back("checkMark " + std::to_string(index)); }
    void showWindow() override { calls_.push_back("showWindow"); }
    void closeWindow() override { calls_.push_back("closeWindow"); }

private:
    std::vector<std::string>& calls_;
};

class RecordingHelpView final : public HelpView {
public:
    explicit RecordingHelpView(std::vector<std::string>& calls) : calls_(calls) {}

    void showSoundSwitch(bool on) override { calls_.push_back(on ? "sound SoundON" : "sound SoundOff"); }
    void showLogSwitch(bool on) override { calls_.push_back(on ? "log SoundON" : "log SoundOff"); }
    void showLogFilePath(const std::string& path) override { calls_.push_back("logFile " + path); }
    void showQualityInfo(const std::string& text) override { calls_.push_back("qualityInfo " + text); }
    void setContentSize(int width, int height) override
    {
        calls_.push_back("size " + std::to_string(width) + "x" + std::to_string(height));
    }
    void showQualityEntry(bool shown) override
    {
        calls_.push_back(shown ? "qualityEntry shown" : "qualityEntry hidden");
    }

private:
    std::vector<std::string>& calls_;
};
