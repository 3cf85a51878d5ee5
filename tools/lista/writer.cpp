#include "writer.h"

#include "report.h"

Writer::Writer() : slots_(new char[Slots][SlotLen]) {
    for (int i = 0; i < Slots; i++) free_.push_back(i);
    thread_ = std::thread([this] { Run(); });
}

Writer::~Writer() {
    std::string name, why;
    Drain(name, why);
    {
        std::lock_guard<std::mutex> g(mu_);
        stop_ = true;
    }
    more_.notify_all();
    thread_.join();
    delete[] slots_;
}

char *Writer::Take(int &slot) {
    std::unique_lock<std::mutex> g(mu_);
    done_.wait(g, [this] { return !free_.empty(); });
    slot = free_.front();
    free_.pop_front();
    return slots_[slot];
}

void Writer::Open(const fs::path &path) {
    {
        std::lock_guard<std::mutex> g(mu_);
        jobs_.push_back({Opening, -1, 0, path});
    }
    more_.notify_one();
}

void Writer::Write(int slot, size_t n) {
    {
        std::lock_guard<std::mutex> g(mu_);
        jobs_.push_back({Writing, slot, n, fs::path()});
    }
    more_.notify_one();
}

void Writer::Close() {
    {
        std::lock_guard<std::mutex> g(mu_);
        jobs_.push_back({Closing, -1, 0, fs::path()});
    }
    more_.notify_one();
}

bool Writer::Drain(std::string &name, std::string &why) {
    std::unique_lock<std::mutex> g(mu_);
    done_.wait(g, [this] { return jobs_.empty() && !busy_; });
    if (!failed_) return true;
    name = name_;
    why = why_;
    return false;
}

bool Writer::Failed() {
    std::lock_guard<std::mutex> g(mu_);
    return failed_;
}

void Writer::Run() {
    for (;;) {
        Job j;
        {
            std::unique_lock<std::mutex> g(mu_);
            more_.wait(g, [this] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            j = jobs_.front();
            jobs_.pop_front();
            busy_++;
        }
        std::string why;
        bool ok = true;
        switch (j.kind) {
        case Opening:
            curName_ = Utf8(j.path);
            bad_ = !(ok = Create(j.path, cur_, why));
            break;
        case Writing:
            if (!bad_ && j.n) bad_ = !(ok = WriteAll(cur_, slots_[j.slot], j.n, why));
            break;
        case Closing:
            // A copy whose write failed is closed all the same.
            if (cur_.fd >= 0) ok = ::Close(cur_, why) || bad_;
            cur_.fd = -1;
            break;
        }
        {
            std::lock_guard<std::mutex> g(mu_);
            if (j.slot >= 0) free_.push_back(j.slot);
            if (!ok && !failed_) {
                failed_ = true;
                name_ = curName_;
                why_ = why;
            }
            busy_--;
        }
        done_.notify_all();
    }
}
