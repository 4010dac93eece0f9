#pragma once
// What every seam of system calls keeps: the real calls, and the ones in
// force, which a test may replace.

#include <utility>

namespace corvane {

template <class Calls>
class Seam {
public:
    // Constant: a seam is in force before any other object's constructor
    // runs, whatever the order the objects' files are initialised in.
    constexpr explicit Seam(Calls& real) : real_(real), in_force_(&real) {}
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    Calls& in_force() const { return *in_force_; }
    Calls& real() const { return real_; }

    // nullptr restores the real calls. Returns the ones that were in force.
    Calls* install(Calls* replacement) { return std::exchange(in_force_, replacement ? replacement : &real_); }

private:
    Calls& real_;
    Calls* in_force_;
};

}  // namespace corvane
