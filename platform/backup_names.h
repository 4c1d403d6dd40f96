// The names of a backup folder's own files, as the handset's rows and the
// downloads give them. Here, the lowest folder, so that every layer names
// them the same way, export/ too, which sits on platform/ alone.
#pragma once

// The bookmarks and the address book, each one file.
constexpr wchar_t kBookmarkFileName[] = L"bookmark.txt";
constexpr wchar_t kAddressFileName[] = L"address.txt";
// The listing's one mail row; its download writes kMailFilePattern files
// ("mail" and three or more digits, from mail000.txt on).
constexpr wchar_t kMailRowName[] = L"mail???.txt";
constexpr wchar_t kMailFilePattern[] = L"mail%03ld.txt";
// A download writes under the part name kPartPrefix + NAME + kPartSuffix
// beside its final name and renames it once whole.
constexpr wchar_t kPartPrefix[] = L".palvo-";
constexpr wchar_t kPartSuffix[] = L".part";
// A backup folder's record of what it holds, and the folder its earlier
// files go to; no handset row may take either name.
constexpr wchar_t kManifestName[] = L"palvo-backup.tsv";
constexpr wchar_t kAtticName[] = L"palvo-attic";
