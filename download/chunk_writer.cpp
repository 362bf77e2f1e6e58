#include "download/chunk_writer.h"

namespace {

// A hand-over every 256 KiB costs nothing next to the transfer, and keeps
// what waits for the disk small: at most the full blocks, the one being
// written and the one being filled, about a megabyte whatever the size of
// the package.
constexpr size_t kBlockBytes = 256 * 1024;
constexpr size_t kMaxFullBlocks = 2;
constexpr std::chrono::milliseconds kCheckpointInterval{1000};

}  // namespace

ChunkWriter::Block ChunkWriter::EmptyBlock() {
    Block block;
    block.bytes.reserve(kBlockBytes);
    return block;
}

ChunkWriter::ChunkWriter(HANDLE file, Sha256& hash, Checkpoint checkpoint)
    : file_(file),
      hash_(hash),
      checkpoint_(std::move(checkpoint)),
      current_(EmptyBlock()),
      lastCheckpoint_(std::chrono::steady_clock::now()),
      thread_([this] { Run(); }) {}

ChunkWriter::~ChunkWriter() {
    Finish();
}

char* ChunkWriter::Reserve(size_t size) {
    std::vector<char>& bytes = current_.bytes;
    if (!bytes.empty() && bytes.size() + size > bytes.capacity()) {
        HandOver(false);
    }
    reserved_ = current_.bytes.size();
    current_.bytes.resize(reserved_ + size, 0);
    return current_.bytes.data() + reserved_;
}

void ChunkWriter::Commit(size_t filled) {
    current_.bytes.resize(reserved_ + filled);
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCheckpoint_ >= kCheckpointInterval && !current_.bytes.empty()) {
        lastCheckpoint_ = now;
        HandOver(true);
    }
}

void ChunkWriter::HandOver(bool checkpoint) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return full_.size() < kMaxFullBlocks || failed_; });
    if (failed_) {
        current_.bytes.clear();
        return;
    }
    current_.checkpoint = checkpoint;
    full_.push_back(std::move(current_));
    if (spare_.empty()) {
        current_ = EmptyBlock();
    } else {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

bool ChunkWriter::Finish() {
    if (!thread_.joinable()) {
        return !failed_;
    }
    if (!current_.bytes.empty()) {
        HandOver(false);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    thread_.join();
    return !failed_;
}

bool ChunkWriter::Write(const Block& block) {
    DWORD written = 0;
    if (!WriteFile(file_, block.bytes.data(), static_cast<DWORD>(block.bytes.size()), &written,
                   nullptr)) {
        error_ = GetLastError();
        return false;
    }
    if (written != block.bytes.size()) {
        error_ = ERROR_HANDLE_DISK_FULL;
        return false;
    }
    hash_.Update(block.bytes.data(), block.bytes.size());
    written_ += written;
    if (block.checkpoint && checkpoint_ && FlushFileBuffers(file_)) {
        checkpoint_(written_);
    }
    return true;
}

void ChunkWriter::Run() {
    for (;;) {
        Block block;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !full_.empty() || closing_; });
            if (full_.empty()) {
                return;
            }
            block = std::move(full_.front());
            full_.pop_front();
        }
        bool ok = false;
        try {
            ok = Write(block);
            block.bytes.clear();
            std::lock_guard<std::mutex> lock(mutex_);
            if (ok) {
                spare_.push_back(std::move(block));
            }
        } catch (...) {
            ok = false;
            error_ = ERROR_OUTOFMEMORY;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ok) {
            failed_ = true;
            full_.clear();
        }
        changed_.notify_all();
        if (!ok) {
            return;
        }
    }
}
