// Move-only owner of one file descriptor.
#pragma once

namespace brisel::device {

class UniqueFd {
  public:
    UniqueFd() = default;
    // Takes ownership of fd; -1 means "no descriptor".
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    // The descriptor, or -1. Ownership stays here.
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Closes the held descriptor (if any) and holds fd instead.
    void reset(int fd = -1);
    // Gives up ownership without closing; returns the descriptor or -1.
    int release();

  private:
    int fd_ = -1;
};

}  // namespace brisel::device
