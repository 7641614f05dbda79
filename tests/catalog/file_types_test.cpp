#include <gtest/gtest.h>

#include <set>

#include "catalog/file_types.h"
#include "catalog_test_util.h"

namespace ambrel {
namespace {

TEST(FileTypes, CategoriesAndDefinitionOrder) {
  const auto cats = GetCategories(false);
  ASSERT_EQ(cats.size(), 7u);
  const char* names[] = {"文档", "照片", "图像", "音频", "视频", "压缩文件", "其他"};
  const std::size_t sizes[] = {25, 14, 33, 13, 19, 7, 11};
  std::size_t total = 0;
  for (std::size_t i = 0; i < cats.size(); ++i) {
    EXPECT_EQ(cats[i].id, 6 + i);
    EXPECT_EQ(cats[i].name, names[i]);
    EXPECT_TRUE(cats[i].enabled);
    EXPECT_EQ(cats[i].typeCodes.size(), sizes[i]) << cats[i].name;
    total += cats[i].typeCodes.size();
  }
  EXPECT_EQ(total, 122u) << "122 definitions";
  EXPECT_EQ(cats[0].typeCodes.front(), 37u);
  EXPECT_EQ(cats[0].typeCodes[2], 36u);
  EXPECT_EQ(cats[0].typeCodes[16], 79u);
  EXPECT_EQ(cats[6].typeCodes[4], 79u);
  EXPECT_EQ(cats[1].typeCodes.back(), 100u);
  EXPECT_EQ(cats[4].typeCodes[9], 88u);
  const auto all = GetCategories(true);
  ASSERT_EQ(all.size(), 13u);
  EXPECT_EQ(all[3].name, "XXX");
  EXPECT_EQ(all[3].id, 0u);
}

TEST(FileTypes, EntriesPlaceholdersAndTheTwiceDefinedCode) {
  const auto types = GetTypes(false);
  ASSERT_EQ(types.size(), 136u);
  EXPECT_EQ(types.front().code, 36u);
  std::set<std::uint32_t> codes;
  for (const auto& e : GetTypes(true))
    if (e.enabled) codes.insert(e.code);
  EXPECT_EQ(codes.size(), 121u) << "121 codes";
  EXPECT_EQ(GetTypes(true).size(), 172u);
  for (std::uint32_t undefined : {115u, 147u, 160u, 0u, 35u}) {
    EXPECT_EQ(FindFileType(undefined), nullptr);
    const auto e = GetTypes(true)[undefined];
    EXPECT_EQ(e.code, 0u);
    EXPECT_EQ(e.category, 0u);
    EXPECT_EQ(e.description, "XXX");
  }
  const FileTypeEntry* html = FindFileType(79);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(html->category, 12u);
  EXPECT_EQ(html->description, "超文本标记语言文件");
  EXPECT_EQ(FindFileType(49)->description, "bmp图");
  EXPECT_EQ(FindFileType(49)->extension, "cr2");
  EXPECT_EQ(FindFileType(143)->extensionList, "m2t;m2ts;m2t;ts;tp;mt2s");
  EXPECT_EQ(FindFileType(46)->extensionList, "jpg") << "no list: the extension itself";
  EXPECT_EQ(FindFileType(82)->extensionList, "mpg;mpeg;vob;m2v;h264");
  EXPECT_EQ(FindFileType(168)->description, "C源代码(.cpp)");
  EXPECT_EQ(FindFileType(77)->description, "Micorsoft Access 数据库");
}

TEST(FileTypes, CodeOfName) {
  EXPECT_EQ(TypeCodeOfName("report.DOCX"), 37);
  EXPECT_EQ(TypeCodeOfName("a.b.jpg"), 46);
  EXPECT_EQ(TypeCodeOfName(".jpg"), 238);
  EXPECT_EQ(TypeCodeOfName("jpg"), 238);
  EXPECT_EQ(TypeCodeOfName("letter.wps"), 238) << "extension lists are not used";
  EXPECT_EQ(TypeCodeOfName("page.html"), 79);
  EXPECT_EQ(TypeCodeOfName("clip.m2t"), 143);
  EXPECT_EQ(TypeCodeOfName("part.SLDPRT"), 139);
  EXPECT_EQ(TypeCodeOfName("a.jpgx"), 238);
  EXPECT_EQ(TypeCodeOfName("name."), 238);
  EXPECT_EQ(TypeCodeOfName(""), 238);
  EXPECT_EQ(TypeCodeOfName(static_cast<const char*>(nullptr)), 238);
  EXPECT_EQ(TypeCodeOfName("图片.Jpg"), 46);
  EXPECT_EQ(TypeCodeOfName("x.\xC3\xA9pg"), 238);
}

TEST(FileTypes, PhotoVideoAndTheRestrictedProfile) {
  EXPECT_TRUE(IsPhotoType(46));
  EXPECT_TRUE(IsPhotoType(49));
  EXPECT_FALSE(IsPhotoType(44));
  EXPECT_TRUE(IsVideoType(143));
  EXPECT_FALSE(IsVideoType(54));
  test::SetTestSetting("MovFragRecovery", "0");
  test::SetTestSetting("Key", "2");
  EXPECT_TRUE(TypeAdmitted(238));
  EXPECT_TRUE(TypeAdmitted(61));
  for (const char* key : {"5", "6", "105"}) {
    test::SetTestSetting("Key", key);
    EXPECT_TRUE(TypeAdmitted(46));
    EXPECT_TRUE(TypeAdmitted(72));
    EXPECT_FALSE(TypeAdmitted(61));
    EXPECT_FALSE(TypeAdmitted(238));
  }
  test::SetTestSetting("Key", "");
  test::SetTestSetting("MovFragRecovery", "1");
  EXPECT_FALSE(TypeAdmitted(37));
  EXPECT_TRUE(TypeAdmitted(67));
  test::SetTestSetting("MovFragRecovery", "0");
}

TEST(FileTypes, PreviewNames) {
  EXPECT_TRUE(IsImagePreviewName("photo.JPG"));
  EXPECT_TRUE(IsImagePreviewName("x.tif"));
  EXPECT_FALSE(IsImagePreviewName("x.tiff"));
  EXPECT_FALSE(IsImagePreviewName(".png"));
  EXPECT_FALSE(IsImagePreviewName("png"));
  EXPECT_TRUE(IsTextPreviewName("notes.Log"));
  EXPECT_TRUE(IsTextPreviewName("a.json"));
  EXPECT_TRUE(IsTextPreviewName("a.cc"));
  EXPECT_FALSE(IsTextPreviewName("a.h"));
  EXPECT_FALSE(IsTextPreviewName("a."));
}

}  // namespace
}  // namespace ambrel
