#include "viewer/core/edit_history.h"

#include <utility>

namespace viewer {

void EditHistory::record(ImageHolder& before, size_t current_bytes, const std::string& name) {
    for (const StepPointer& step : redo_) {
        step_bytes_ -= step->picture.storage_bytes();
    }
    redo_.clear();
    const uint64_t before_state = current_state_;
    current_state_ = next_state_++;
    if (before.empty()) {
        clear_steps();  // the way back is broken here
        return;
    }
    auto step = std::make_unique<Step>();
    step->picture.swap(before);
    step->name = name;
    step->state = before_state;
    step_bytes_ += step->picture.storage_bytes();
    undo_.push_back(std::move(step));
    while (!undo_.empty() && current_bytes + step_bytes_ > budget_) {
        drop_oldest();
    }
}

void EditHistory::drop_oldest() {
    step_bytes_ -= undo_.front()->picture.storage_bytes();
    undo_.erase(undo_.begin());
}

void EditHistory::clear_steps() {
    undo_.clear();
    redo_.clear();
    step_bytes_ = 0;
}

void EditHistory::clear() {
    clear_steps();
    current_state_ = next_state_++;
    saved_state_ = current_state_;
}

bool EditHistory::exchange(std::vector<StepPointer>& from, std::vector<StepPointer>& to,
                           ImageHolder& current) {
    if (from.empty()) {
        return false;
    }
    // The pictures held stay the same ones, so the bytes held do too.
    StepPointer step = std::move(from.back());
    from.pop_back();
    step_bytes_ -= step->picture.storage_bytes();
    step->picture.swap(current);
    step_bytes_ += step->picture.storage_bytes();
    std::swap(step->state, current_state_);
    to.push_back(std::move(step));
    return true;
}

bool EditHistory::undo(ImageHolder& current) {
    return exchange(undo_, redo_, current);
}

bool EditHistory::redo(ImageHolder& current) {
    return exchange(redo_, undo_, current);
}

std::string EditHistory::undo_name() const {
    return undo_.empty() ? std::string() : undo_.back()->name;
}

std::string EditHistory::redo_name() const {
    return redo_.empty() ? std::string() : redo_.back()->name;
}

}  // namespace viewer
