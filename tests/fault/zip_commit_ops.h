// The single-file transactions that the archive kill sweep interrupts: one shared by the driver
// that is killed and the test that retries it.
#pragma once

#include <string>

#include "archive/archiver.h"
#include "text/wide_text.h"

namespace zipsweep {

// Whether op works on a split set (volumes of 65,536 bytes, stored) rather than one file.
inline bool OnSet(const std::string& op) { return op.rfind("set-", 0) == 0; }

// The archiver as the transactions of op use it on folder/t.zip.
inline void Setup(zip::TZipArchiver& a, const std::string& op, const std::string& folder) {
    a.TempDir = zip::UTF8DecodeWide(folder + "tmp");
    a.FileName = zip::UTF8DecodeWide(folder + "t.zip");
    if (OnSet(op)) {
        a.SetSpanningMode(zip::smSplitting);
        a.SpanningOptions.VolumeSize = zip::vsCustom;
        a.SpanningOptions.SetCustomVolumeSize(65536);
        a.SetCompressionMode(0);
    }
}

// Performs op ("replace", "append", "rename" or "delete"; "set-replace" or "set-append" on a split
// set) on folder/t.zip, with its sources in folder/src and its scratch files in folder/tmp, as the
// caller would; recovery is on.
inline void Perform(const std::string& op, const std::string& folder) {
    zip::TZipArchiver a;
    Setup(a, op, folder);
    a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
    a.BaseDir = zip::UTF8DecodeWide(folder + "src");
    if (OnSet(op)) {
        // A set takes one transaction per open.
        a.BeginUpdate();
        a.AddFiles(op == "set-replace" ? u"a.kml" : u"d.bin", 0x28BF, u"");
        a.EndUpdate();
    } else if (op == "replace") {
        a.AddFiles(u"a.kml", 0x28BF, u"");
    } else if (op == "append") {
        a.AddFiles(u"d.bin", 0x28BF, u"");
    } else {
        a.BeginUpdate();
        zip::TZipDirArray& items = a.DirManager()->Items;
        int at = -1;
        // A retry finds the item gone when the killed run got that far.
        if (items.FindItem(u"b.bin", at)) {
            if (op == "rename") {
                items.RenameItem(at, u"route/b2.bin");
                zip::TDirItem& item = items.GetItem(at);
                item.ItemOperation = zip::poRename;
                item.OldName = u"b.bin";
                item.Pending = true;
            } else {
                items.Delete(at);
            }
        }
        a.EndUpdate();
    }
    a.CloseArchive();
}

}  // namespace zipsweep
