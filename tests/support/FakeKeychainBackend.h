#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <deque>
#include <map>
#include <optional>
#include <string>

namespace veltrane::test {

// An in-memory keychain. Scripted results (first in, first out) override what the next calls of a
// kind answer; without a script it behaves like a working store.
class FakeKeychainBackend : public KeychainBackend {
public:
    // Every call of every kind answers `result` (e.g. KeychainResult::unavailable()).
    void failEverythingWith(KeychainResult result) { always_ = std::move(result); }
    void scriptLookUp(KeychainResult result) { lookUpScript_.push_back(std::move(result)); }
    void scriptStore(KeychainResult result) { storeScript_.push_back(std::move(result)); }
    // Stores raw bytes directly, as another program might have.
    void put(const std::string& account, const std::string& bytes) { items_[account] = bytes; }
    [[nodiscard]] bool contains(const std::string& account) const { return items_.contains(account); }

    [[nodiscard]] int lookUpCalls() const noexcept { return lookUpCalls_; }
    [[nodiscard]] int storeCalls() const noexcept { return storeCalls_; }

    [[nodiscard]] KeychainResult lookUp(const std::string&, const std::string& account) override {
        ++lookUpCalls_;
        if (auto result = scripted(lookUpScript_)) {
            return *result;
        }
        const auto found = items_.find(account);
        return found == items_.end() ? KeychainResult::notFound() : KeychainResult::found(found->second);
    }
    [[nodiscard]] KeychainResult store(const std::string&, const std::string& account,
                                       const std::string& data) override {
        ++storeCalls_;
        if (auto result = scripted(storeScript_)) {
            return *result;
        }
        items_[account] = data;
        return KeychainResult::found();
    }
    [[nodiscard]] KeychainResult remove(const std::string&, const std::string& account) override {
        std::deque<KeychainResult> none;
        if (auto result = scripted(none)) {
            return *result;
        }
        return items_.erase(account) > 0 ? KeychainResult::found() : KeychainResult::notFound();
    }

private:
    // The result that overrides this call, if any.
    std::optional<KeychainResult> scripted(std::deque<KeychainResult>& script) {
        if (always_ || script.empty()) {
            return always_;
        }
        KeychainResult result = std::move(script.front());
        script.pop_front();
        return result;
    }

    std::optional<KeychainResult> always_;
    std::deque<KeychainResult> lookUpScript_;
    std::deque<KeychainResult> storeScript_;
    std::map<std::string, std::string> items_;
    int lookUpCalls_ = 0;
    int storeCalls_ = 0;
};

} // namespace veltrane::test
