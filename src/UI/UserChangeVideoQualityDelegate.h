#pragma once

// Told that the user confirmed another quality (gSelectedQualityIndex holds it already). Main thread.
class UserChangeVideoQualityDelegate {
public:
    virtual ~UserChangeVideoQualityDelegate() = default;
    virtual void userChangeVideoQuality() = 0;
};
