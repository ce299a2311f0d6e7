#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What a client learns of its server when it evaluates trust itself: the chain the server sent, and
// what the default evaluation (system roots, and the peer name when one was set) made of it.
struct NetSocketTrust {
    // PEM texts, the server's own certificate first.
    std::vector<std::string> certificateChain;
    bool trustedByDefault = false;
    // Why the default evaluation refused the chain; empty when it trusted it.
    std::string evaluationError;
};

// The answer to a trust question, callable from any thread. Only its first call counts.
class NetSocketTrustCompletion {
public:
    // nullopt: the delegate cannot answer.
    using Answer = std::function<void(std::optional<bool>)>;

    explicit NetSocketTrustCompletion(Answer answer)
        : state_(std::make_shared<State>())
    {
        state_->answer = std::move(answer);
    }

    void operator()(bool trusted) const { give(trusted); }
    // Used by a delegate that leaves trust unanswered.
    void cannotAnswer() const { give(std::nullopt); }

private:
    struct State {
        std::atomic<bool> answered{false};
        Answer answer;
    };
    void give(std::optional<bool> trusted) const
    {
        if (!state_->answered.exchange(true))
            state_->answer(trusted);
    }

    std::shared_ptr<State> state_;
};
