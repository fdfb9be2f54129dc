#pragma once

#include "platform/file_system.h"

#include <memory>

// A drive whose files take only `room` bytes each, as on a full disk.
class SmallDisk : public platform::FileSystem {
  public:
    SmallDisk(std::unique_ptr<platform::FileSystem> real, qint64 room)
        : real_(std::move(real)), room_(room) {}
    std::optional<QString> HostPath(const QString& p) const override { return real_->HostPath(p); }
    bool FileExists(const QString& p) const override { return real_->FileExists(p); }
    bool FolderExists(const QString& p) const override { return real_->FolderExists(p); }
    platform::Result<> DeleteFile(const QString& p) override { return real_->DeleteFile(p); }
    void CopyFile(const QString& s, const QString& t, CopyProgress p, CopyDone d,
                  platform::ContentCheck c = {}) override {
        real_->CopyFile(s, t, std::move(p), std::move(d), std::move(c));
    }
    void CheckFile(const QString& p, platform::ContentCheck c, CheckDone d) override {
        real_->CheckFile(p, std::move(c), std::move(d));
    }
    platform::Result<> CreateFolder(const QString& p) override { return real_->CreateFolder(p); }
    QStringList ListPlainFiles(const QString& f) const override { return real_->ListPlainFiles(f); }
    QStringList ListHiddenFiles(const QString& f) const override {
        return real_->ListHiddenFiles(f);
    }
    platform::Result<> RemoveFolder(const QString& p) override { return real_->RemoveFolder(p); }
    std::optional<QString> ReadFirstItem(const QString& p) const override {
        return real_->ReadFirstItem(p);
    }
    platform::Result<std::unique_ptr<platform::DurableFile>> CreateDurable(
        const QString& p) override {
        auto inner = real_->CreateDurable(p);
        if (!inner) {
            return inner;
        }
        return std::unique_ptr<platform::DurableFile>(
            std::make_unique<File>(std::move(*inner), room_));
    }
    void MoveFiles(const Moves& m, MovesDone d) override { real_->MoveFiles(m, std::move(d)); }
    void AfterCommits(std::function<void()> d) override { real_->AfterCommits(std::move(d)); }
    void MeasureFolder(const QString& f, FiguresDone d) override {
        real_->MeasureFolder(f, std::move(d));
    }

  private:
    class File : public platform::DurableFile {
      public:
        File(std::unique_ptr<platform::DurableFile> inner, qint64 room)
            : inner_(std::move(inner)), room_(room) {}
        platform::Result<> Write(const char* data, qint64 size) override {
            if (written_ + size > room_) {
                return platform::DiskFull();
            }
            written_ += size;
            return inner_->Write(data, size);
        }
        void CommitChecked(platform::ContentCheck check, CommitDone done) override {
            inner_->CommitChecked(std::move(check), std::move(done));
        }
        void Discard() override { inner_->Discard(); }

      private:
        std::unique_ptr<platform::DurableFile> inner_;
        qint64 room_;
        qint64 written_ = 0;
    };
    std::unique_ptr<platform::FileSystem> real_;
    qint64 room_;
};
