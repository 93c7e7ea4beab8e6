// The edits of a document that can be taken back and done again.
//
// Every step holds a whole picture: an undo step the picture as it was before
// an edit, a redo step the picture as it was before that edit was undone.
// Undo and redo exchange the document's picture with the step's, so they
// compute nothing and give back exactly what was there.
//
// Memory: the pictures of a document, its current one and every step kept,
// stay within a budget (512 MiB unless set). An edit that would go beyond it
// drops the oldest undo steps first; a picture too large to be kept beside
// the current one leaves nothing to undo. A budget of 0 keeps no steps at all
// (pelora-cli, which never undoes).
//
// Each picture state has a number, so the document can tell whether what it
// shows is still the picture it read from its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "viewer/core/image_holder.h"

namespace viewer {

class EditHistory {
  public:
    static constexpr size_t kDefaultBudget = size_t{512} << 20;

    explicit EditHistory(size_t budget = kDefaultBudget) : budget_(budget) {}
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    // Whether a copy of a picture of `bytes` could be kept as a step beside
    // the current picture of the same size.
    bool could_keep(size_t bytes) const { return bytes <= budget_ / 2; }

    // An edit named `name` changed the picture, which now takes
    // `current_bytes`. `before` holds the picture as it was (it is taken
    // over), or is empty when it could not be kept: then nothing before this
    // edit can be undone either. Steps that were undone are forgotten.
    void record(ImageHolder& before, size_t current_bytes, const std::string& name);

    // Exchanges `current` with the last step undone or done; false (nothing
    // changed) when there is none.
    bool undo(ImageHolder& current);
    bool redo(ImageHolder& current);

    // Forgets every step; the current picture is then the file's.
    void clear();
    // The current picture is the file's from now on (after a reload).
    void mark_saved() { saved_state_ = current_state_; }
    // Whether the current picture differs from what the file holds.
    bool modified() const { return current_state_ != saved_state_; }

    bool can_undo() const { return !undo_.empty(); }
    bool can_redo() const { return !redo_.empty(); }
    size_t undo_steps() const { return undo_.size(); }
    size_t redo_steps() const { return redo_.size(); }
    // The edit the next undo or redo takes back or does again; empty if none.
    std::string undo_name() const;
    std::string redo_name() const;

    // Bytes the steps hold (the current picture not counted).
    size_t step_bytes() const { return step_bytes_; }
    size_t budget() const { return budget_; }
    // A new budget applies from the next edit on.
    void set_budget(size_t budget) { budget_ = budget; }

  private:
    struct Step {
        ImageHolder picture;
        std::string name;  // the edit between this picture and the next
        uint64_t state;    // the picture's state number
    };
    using StepPointer = std::unique_ptr<Step>;

    void drop_oldest();
    void clear_steps();
    bool exchange(std::vector<StepPointer>& from, std::vector<StepPointer>& to,
                  ImageHolder& current);

    std::vector<StepPointer> undo_;  // oldest first
    std::vector<StepPointer> redo_;  // the next to redo last
    size_t budget_;
    size_t step_bytes_ = 0;
    uint64_t current_state_ = 0;
    uint64_t saved_state_ = 0;
    uint64_t next_state_ = 1;
};

}  // namespace viewer
