// Naming rules, filter lists, open and save rules of picture files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <vector>

#include "errors/ErrorText.h"
#include "image/DIBImage.h"
#include "image/codecs/CodecRegistry.h"
#include "io/SafeFileWriter.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

class ImageFilesTest : public CPlatformTest {};

TEST(FileType, FollowsTheExtensionOfTheLastPathComponent)
{
    const std::pair<const char*, int> aCases[] = {
        {"/maps/Site.jpeg", FILE_TYPE_JPEG}, {"site.JFIF", FILE_TYPE_JPEG}, {"site.jpe", FILE_TYPE_JPEG},
        {"site.tiff", FILE_TYPE_TIFF},       {"site.Tif", FILE_TYPE_TIFF},  {"a.b.png", FILE_TYPE_PNG},
        {"site.bmp", FILE_TYPE_BMP},         {"x.gif", FILE_TYPE_GIF},      {"site.jpg.bak", FILE_TYPE_NONE},
        {"site", FILE_TYPE_NONE},            {"/my.maps/site", FILE_TYPE_NONE}, {"site.", FILE_TYPE_NONE},
    };
    for (const auto& [pName, nType] : aCases)
        EXPECT_EQ(CDIBImage::GetFileType(pName), nType) << pName;
    EXPECT_EQ(CDIBImage::GetFileTypeExtension(FILE_TYPE_TIFF), "TIF");
    EXPECT_EQ(CDIBImage::GetFileTypeExtension(0), "");
}

TEST_F(ImageFilesTest, FilterListsWithAllFiveDecoders)
{
    CDIBImage image;
    EXPECT_EQ(image.GetExportFilter(),
              "Windows Bitmap (*.BMP)|*.BMP|JPEG (*.JPG)|*.JPG|Graphics Interchange (*.GIF)|*.GIF|"
              "Tagged Image Format (*.TIF)|*.TIF|Portable Network Graphics (*.PNG)|*.PNG||");
    EXPECT_EQ(image.GetImportFilter(),
              "All Image Files |*.BMP;*.JPG;*.JPEG;*.JPE;*.JFIF;*.GIF;*.TIF;*.TIFF;*.PNG|"
              "Windows Bitmap (*.BMP)|*.BMP|JPEG (*.JPG;*.JPEG;*.JPE;*.JFIF)|*.JPG;*.JPEG;*.JPE;*.JFIF|"
              "Graphics Interchange (*.GIF)|*.GIF|Tagged Image Format (*.TIF;*.TIFF)|*.TIF;*.TIFF|"
              "Portable Network Graphics (*.PNG)|*.PNG|");
    EXPECT_EQ(image.m_nFilterTypes, 5);
    EXPECT_EQ(image.m_aFilterType[3], FILE_TYPE_GIF);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(ImageFilesTest, RememberedFilterPastTheListIsResetAndWrittenBack)
{
    m_platform.Profile().Write("IMAGELOAD", "Filter", "9");
    CDIBImage image;
    image.BuildImageFilters();
    EXPECT_EQ(image.m_nFilterIndex, 1);
    EXPECT_EQ(m_platform.Profile().GetInt("IMAGELOAD", "Filter", 0), 1);
    m_platform.Profile().Write("IMAGELOAD", "Filter", "6");
    CDIBImage another;
    another.BuildImageFilters();
    EXPECT_EQ(another.m_nFilterIndex, 6);
}

TEST_F(ImageFilesTest, NarrowedDecoderListsAndTheirFailures)
{
    {
        CScopedCodecList narrowed({&GetPngCodec(), &GetJpegCodec()});
        CDIBImage image;
        EXPECT_EQ(image.GetExportFilter(), "JPEG (*.JPG)|*.JPG|Portable Network Graphics (*.PNG)|*.PNG||");
        EXPECT_EQ(image.m_nErrorNumber, 0);
        EXPECT_EQ(MessageTexts(),
                  std::vector<std::string>{"Windows Bitmap (*.BMP) exporter was not found.\n\nPlease contact Kelmar."});
        EXPECT_TRUE(image.m_strErrorText.empty());
    }
    m_platform.ClearRecord();
    {
        CScopedCodecList none({});
        CDIBImage image;
        CTempFolder folder;
        EXPECT_FALSE(image.OpenDIB(folder.Path("map.png")));
        EXPECT_EQ(image.m_nErrorNumber, ERR_NO_EXPORT_TYPES);
        // The missing-BMP step that follows empties the detail text.
        EXPECT_EQ(image.GetErrorMessage(), "GetExporterFilter failed: there are no export types.");
        EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                      "GetExporterFilter failed: there are no export types.",
                                      "Windows Bitmap (*.BMP) exporter was not found.\n\nPlease contact Kelmar."}));
    }
    m_platform.ClearRecord();
    {
        CScopedCodecList failing({&GetBmpCodec()}, codec_result::kListFailed);
        CDIBImage image;
        image.BuildImageFilters();
        // A failed listing leaves no decoders, so the empty-list report follows it.
        ASSERT_EQ(m_platform.Messages().size(), 3u);
        EXPECT_EQ(m_platform.Messages()[0].strText.rfind("GetExporterFilter failed:\n8004a008 - ", 0), 0u);
        EXPECT_EQ(image.m_nErrorNumber, ERR_NO_EXPORT_TYPES);
        EXPECT_EQ(image.m_nFilterTypes, 0);
    }
}

TEST_F(ImageFilesTest, OpeningAnUnrecognisedTypeLeavesAnEmptyPicture)
{
    CDIBImage image;
    ASSERT_TRUE(image.CreateImage(8, 4, 4, FILL_WHITE, 0, 0, 0, nullptr));
    EXPECT_FALSE(image.OpenDIB("map.pcx"));
    EXPECT_EQ(image.m_nErrorNumber, ERR_TYPE_NOT_RECOGNISED);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"\nIn OpenDIB(), file name:\nmap.pcx"});
    EXPECT_EQ(image.GetErrorMessage(), "Image file type not recognised.\nIn OpenDIB(), file name:\nmap.pcx");
    EXPECT_FALSE(image.HasImage());
}

TEST_F(ImageFilesTest, OpeningSetsTheFilterIndexOfTheType)
{
    CTempFolder folder;
    CDIBImage picture;
    test::MakePatternPicture(picture, 24, 5, 5);
    picture.SaveDIB(folder.Path("a.bmp"));
    picture.SaveDIB(folder.Path("a.png"));
    CDIBImage image;
    ASSERT_TRUE(image.OpenDIB(folder.Path("a.bmp")));
    EXPECT_EQ(image.m_nFilterIndex, 2);
    EXPECT_EQ(image.m_strFileName, folder.Path("a.bmp"));
    ASSERT_TRUE(image.OpenDIB(folder.Path("a.png")));
    EXPECT_EQ(image.m_nFilterIndex, 6);
    EXPECT_EQ(image.m_nFileType, FILE_TYPE_PNG);
}

TEST_F(ImageFilesTest, SaveRulesForNamesAndDepths)
{
    CTempFolder folder;
    CDIBImage full, indexed;
    test::MakePatternPicture(full, 24, 6, 4);
    test::MakePatternPicture(indexed, 8, 6, 4);

    EXPECT_EQ(full.SaveDIB(folder.Path("out")), ESaveResult::Written);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"\nSpecification error in file name:\n" + folder.Path("out") +
                                                       "\n\nThe qualifier/type is not specified - default PNG will be used."});
    EXPECT_EQ(m_platform.Messages()[0].eKind, EMessageKind::Information);
    EXPECT_TRUE(std::filesystem::exists(folder.Path("out.PNG")));
    EXPECT_EQ(full.m_nErrorNumber, 0);
    EXPECT_EQ(full.m_nFileType, FILE_TYPE_PNG);

    m_platform.ClearRecord();
    EXPECT_EQ(full.SaveDIB(folder.Path("map.gif")), ESaveResult::Refused);
    EXPECT_EQ(indexed.SaveDIB(folder.Path("map.jpg")), ESaveResult::Refused);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{
                                  "GIF file format must be 8-bit, 256 colour\n\nPlease choose another format or convert to 8-bit.",
                                  "JPEG file format must be 24-bit, full colour\n\nPlease choose another format or convert to 24-bit."}));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("map.gif")));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("map.jpg")));
    // A refusal carries a number, so a caller that reads only the error state does not
    // take the save for done.
    EXPECT_EQ(full.m_nErrorNumber, ERR_SAVE_REFUSED);
    EXPECT_EQ(indexed.GetErrorMessage(),
              "Image not saved: the file type does not take this colour depth.\n"
              "JPEG file format must be 24-bit, full colour\n\nPlease choose another format or convert to 24-bit.");

    m_platform.ClearRecord();
    EXPECT_EQ(full.SaveDIB(""), ESaveResult::Failed);
    EXPECT_EQ(full.m_nErrorNumber, ERR_INVALID_FILE);
    EXPECT_EQ(full.m_strErrorText, "\nEmpty file name in SaveDIB()");
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(ImageFilesTest, SilentSavesSayWrittenRefusedOrFailedWithoutMessages)
{
    CTempFolder folder;
    CDIBImage full, indexed, empty;
    test::MakePatternPicture(full, 24, 6, 4);
    test::MakePatternPicture(indexed, 8, 6, 4);
    struct SCase {
        CDIBImage* pImage;
        const char* pName;
        ESaveResult eExpected;
        int nErrorNumber;
        const char* pWritten;  // the file on disc afterwards, or null
    };
    const SCase aCases[] = {
        {&full, "a.jpg", ESaveResult::Written, 0, "a.jpg"},
        {&indexed, "a.gif", ESaveResult::Written, 0, "a.gif"},
        {&full, "b", ESaveResult::Written, 0, "b.PNG"},
        {&full, "b.gif", ESaveResult::Refused, ERR_SAVE_REFUSED, nullptr},
        {&indexed, "b.jpeg", ESaveResult::Refused, ERR_SAVE_REFUSED, nullptr},
        {&full, "missing/c.png", ESaveResult::Failed, ERR_SAVE_FAILED, nullptr},
        {&empty, "c.bmp", ESaveResult::Failed, ERR_SAVE_FAILED, nullptr},
    };
    for (const SCase& aCase : aCases) {
        aCase.pImage->m_nErrorNumber = 0;
        const std::string strPath = folder.Path(aCase.pName);
        EXPECT_EQ(aCase.pImage->SaveDIBSilent(strPath), aCase.eExpected) << aCase.pName;
        EXPECT_EQ(aCase.pImage->m_nErrorNumber, aCase.nErrorNumber) << aCase.pName;
        if (aCase.pWritten) {
            EXPECT_TRUE(std::filesystem::exists(folder.Path(aCase.pWritten))) << aCase.pName;
        } else {
            EXPECT_FALSE(std::filesystem::exists(strPath)) << aCase.pName;
        }
    }
    EXPECT_EQ(full.SaveDIBSilent(""), ESaveResult::Failed);
    EXPECT_TRUE(m_platform.Messages().empty());

    // A pending error does not make a written file look failed, nor the other way round.
    full.m_nErrorNumber = ERR_OUT_OF_MEMORY;
    EXPECT_EQ(full.SaveDIB(folder.Path("d.png")), ESaveResult::Written);
    EXPECT_EQ(full.m_nErrorNumber, ERR_OUT_OF_MEMORY);
    EXPECT_TRUE(m_platform.Messages().empty());
}

TEST_F(ImageFilesTest, SaveDialogNumbersEntriesAsTheOpenListAndAddsTheExtension)
{
    struct SCase {
        std::string strChosen;
        int nEntry;  // 0-based save entry chosen
        std::string strExpected;
        int nExpectedIndex;
    };
    const SCase aCases[] = {
        {"/maps/map", 4, "/maps/map.PNG", 6},
        {"/maps/map.xyz", 4, "/maps/map.xyz.PNG", 6},
        {"/maps/map.tiff", 0, "/maps/map.tiff", 2},
        {"/maps/map", 2, "/maps/map.GIF", 4},
    };
    for (const SCase& aCase : aCases) {
        CDIBImage image;
        m_platform.AnswerNextFileDialog({true, aCase.strChosen, aCase.nEntry});
        int nFilterIndex = 0;
        EXPECT_EQ(image.SaveFileDialog(nFilterIndex, "/maps"), aCase.strExpected);
        EXPECT_EQ(nFilterIndex, aCase.nExpectedIndex);
        EXPECT_EQ(m_platform.Profile().GetInt("IMAGELOAD", "Filter", 0), aCase.nExpectedIndex);
    }
    // The next dialog opens on the remembered entry (open index 4 is save entry 3).
    CDIBImage image;
    m_platform.AnswerNextFileDialog({false, "", 0});
    int nFilterIndex = 0;
    EXPECT_EQ(image.SaveFileDialog(nFilterIndex, nullptr), "");
    EXPECT_EQ(m_platform.FileDialogRequests().back().nFilterEntry, 2);
    EXPECT_EQ(m_platform.FileDialogRequests().back().strInitialFolder, std::filesystem::current_path().string());
}

// An encoder that writes part of a file and then fails, as a full disc would.
class CFailingCodec : public CImageCodec {
public:
    EImageFormat Format() const override { return EImageFormat::Png; }
    SCodecStatus Decode(const std::string&, std::unique_ptr<CDIBSection>&) const override
    {
        return SCodecStatus::Fail(codec_result::kCorrupt, "not used");
    }
    SCodecStatus Encode(const CDIBSection&, CSafeFileWriter& writer, const SEncodeOptions&) const override
    {
        std::fputs("half a file", writer.File());
        return SCodecStatus::Fail(codec_result::kWriteFailed, "No space left on device.");
    }
};

// A decoder whose memory runs out in one of the ways a real one's can.
class COutOfMemoryCodec : public CImageCodec {
public:
    enum class EWay { Throws, TooLong, LibraryReports, RefusedBeforeAllocating };
    explicit COutOfMemoryCodec(EWay eWay) : m_eWay(eWay) {}
    EImageFormat Format() const override { return EImageFormat::Png; }
    SCodecStatus Decode(const std::string&, std::unique_ptr<CDIBSection>& pPicture) const override
    {
        CDIBSection::Create(8, 8, 24, pPicture);  // a picture half decoded
        switch (m_eWay) {
        case EWay::Throws:
            throw std::bad_alloc();
        case EWay::TooLong:
            std::vector<std::uint8_t>(std::vector<std::uint8_t>().max_size() + 1);
            break;
        case EWay::LibraryReports:
            break;
        case EWay::RefusedBeforeAllocating: {
            SCodecStatus status = SCodecStatus::Fail(codec_result::kOutOfMemory, "Not enough memory for the picture.");
            status.nWidth = 100000;
            status.nHeight = 90000;
            status.nBitCount = 24;
            return status;
        }
        }
        return SCodecStatus::Fail(codec_result::kOutOfMemory, "libpng could not start.");
    }
    SCodecStatus Encode(const CDIBSection&, CSafeFileWriter&, const SEncodeOptions&) const override
    {
        return SCodecStatus::Ok();
    }

private:
    EWay m_eWay;
};

TEST_F(ImageFilesTest, MemoryRunningOutWhileDecodingIsALoadFailure)
{
    CTempFolder folder;
    test::WriteBytes(folder.Path("map.png"), {0});
    using EWay = COutOfMemoryCodec::EWay;
    struct SCase {
        EWay eWay;
        int nErrorNumber;
        const char* pDetail;
    };
    const SCase aCases[] = {
        {EWay::Throws, ERR_LOAD_FAILED, "\nResult:8004a005 - Not enough memory to decode the file."},
        {EWay::TooLong, ERR_LOAD_FAILED, "\nResult:8004a005 - Not enough memory to decode the file."},
        {EWay::LibraryReports, ERR_LOAD_FAILED, "\nResult:8004a005 - libpng could not start."},
        // The guard before allocating keeps the creation failure.
        {EWay::RefusedBeforeAllocating, ERR_OUT_OF_MEMORY,
         "Failure creating bitmap, lack of memory\n\nwidth=100000, height=90000, nBPP=24 in CreateImage()."},
    };
    for (const SCase& aCase : aCases) {
        m_platform.ClearRecord();
        const COutOfMemoryCodec codec(aCase.eWay);
        const CScopedCodecList narrowed({&GetBmpCodec(), &codec});
        CDIBImage image;
        EXPECT_FALSE(image.OpenDIB(folder.Path("map.png")));
        EXPECT_EQ(image.m_nErrorNumber, aCase.nErrorNumber) << aCase.pDetail;
        EXPECT_EQ(image.m_strErrorText, aCase.pDetail);
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{aCase.pDetail});
        // A detail that does not start a line is put on one of its own.
        const std::string strDetail = aCase.pDetail;
        EXPECT_EQ(image.GetErrorMessage(),
                  GetErrorText(aCase.nErrorNumber) + (strDetail[0] == '\n' ? "" : "\n") + strDetail);
        EXPECT_FALSE(image.HasImage());
    }
}

TEST_F(ImageFilesTest, AFailedSaveLeavesTheOldFileAndNoTemporaryFile)
{
    CTempFolder folder;
    const std::string strPath = folder.Path("map.png");
    test::WriteBytes(strPath, {1, 2, 3, 4});
    CDIBImage image;
    test::MakePatternPicture(image, 24, 4, 4);
    CFailingCodec failing;
    {
        CScopedCodecList narrowed({&GetBmpCodec(), &failing});
        image.SaveDIB(strPath);
    }
    EXPECT_EQ(image.m_nErrorNumber, ERR_SAVE_FAILED);
    EXPECT_EQ(image.m_strErrorText, "\nResult:8004a006 - No space left on device.");
    EXPECT_EQ(image.GetErrorMessage(), "Save image failed.\nResult:8004a006 - No space left on device.");
    EXPECT_EQ(test::ReadBytes(strPath), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Root()), {}), 1);
    EXPECT_TRUE(image.HasImage());  // the picture is unchanged

    // A folder that does not exist cannot be written either; nothing is created.
    m_platform.ClearRecord();
    image.m_nErrorNumber = 0;
    image.SaveDIB(folder.Path("missing/map.png"));
    EXPECT_EQ(image.m_nErrorNumber, ERR_SAVE_FAILED);
    EXPECT_EQ(MessageTexts().size(), 1u);
}

TEST_F(ImageFilesTest, SavedFilesGetNormalPermissionsAndReplacedFilesKeepTheirs)
{
    CTempFolder folder;
    CDIBImage image;
    test::MakePatternPicture(image, 8, 4, 4);
    const mode_t nOldMask = umask(022);
    image.SaveDIB(folder.Path("new.gif"));
    const std::string strKept = folder.Path("kept.bmp");
    test::WriteBytes(strKept, {0});
    chmod(strKept.c_str(), 0600);
    image.SaveDIB(strKept);
    umask(nOldMask);
    struct stat info {};
    ASSERT_EQ(stat(folder.Path("new.gif").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_EQ(stat(strKept.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_GT(info.st_size, 1);
}

}  // namespace
}  // namespace gridmorph
