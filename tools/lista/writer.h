// The staged copies of a publish, made and written by a thread of their own
// behind the reads: the hashing of what comes next (the processor) overlaps
// the making and writing of what came (the system's work in the site). Each
// piece is read once into a slot, hashed from it and written from it, so a
// copy still holds exactly the bytes hashed.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "files.h"

class Writer {
public:
    enum { Slots = 8, SlotLen = 1 << 18 };

    Writer();
    ~Writer();  // drains what was given, then ends the thread

    // Starts the next copy: the file at path, created or emptied.
    void Open(const fs::path &path);
    // A free slot of SlotLen bytes to read the next piece into; waits for one.
    char *Take(int &slot);
    // Writes n bytes of slot at the end of the copy, then frees the slot;
    // with n 0 it only frees it.
    void Write(int slot, size_t n);
    // Closes the copy once what was given for it is written.
    void Close();
    // Waits until everything given is written and closed. False when a write
    // or a close failed: name and why tell the first such failure (once).
    bool Drain(std::string &name, std::string &why);
    // Whether a write or a close has failed so far (Drain tells which).
    bool Failed();

private:
    enum Kind { Opening, Writing, Closing };
    struct Job {
        Kind kind;
        int slot;
        size_t n;
        fs::path path;
    };
    void Run();

    char (*slots_)[SlotLen];
    std::deque<int> free_;
    std::deque<Job> jobs_;
    int busy_ = 0;  // jobs taken from the queue and not finished
    bool stop_ = false, failed_ = false;
    // The writer thread's own: the copy under way, its name, and whether it
    // failed (its later pieces are then not written).
    File cur_;
    std::string curName_;
    bool bad_ = false;
    std::string name_, why_;
    std::mutex mu_;
    std::condition_variable more_, done_;
    std::thread thread_;
};
