#!/usr/bin/env python3
"""Checks the compiled resources of the Windows program: reads the resource object, the
.res file of an rc-compatible compiler or the linked program itself, and compares every
resource with what the program relies on: the dialog template's exact styles and layout,
every catalogue text in both languages, the icon images, the picture's format, the firmware
image, the manifest and the version resource. Given a second compiler's output, every
resource must also be equal byte for byte."""

import argparse
import os
import re
import struct
import sys

RT_ICON, RT_BITMAP, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = (
    3, 2, 5, 6, 10, 14, 16, 24)
NEUTRAL, ENGLISH_NEUTRAL, GERMAN, ENGLISH_US = 0x0000, 0x0009, 0x0407, 0x0409

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_SYSMENU, WS_VSCROLL = 0x00C00000, 0x00800000, 0x00080000, 0x00200000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_FIXEDSYS, DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x0008, 0x0040, 0x0080, 0x0800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX = 0, 1, 7
SS_LEFT = 0
ES_MULTILINE, ES_AUTOVSCROLL, ES_READONLY = 0x0004, 0x0040, 0x0800
WS_EX_RIGHT = 0x1000
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82

DIALOG_STYLE = (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT
                | DS_FIXEDSYS)
LABEL = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
# id, class, English text, German text, style, extended style, x, y, width, height
CONTROLS = [
    (2, BUTTON, "Close", "Beenden",
     WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 157, 199, 50, 14),
    (1002, BUTTON, "Update", "Update",
     WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 0, 61, 199, 50, 14),
    (40010, STATIC, "Firmware 1:", "Firmware 1:", LABEL, 0, 22, 24, 60, 8),
    (1005, STATIC, "Firmware 2:", "Firmware 2:", LABEL, 0, 22, 37, 60, 8),
    (40013, STATIC, "0.00.00", "0.00.00", LABEL, WS_EX_RIGHT, 90, 24, 50, 8),
    (40014, STATIC, "0.00.00", "0.00.00", LABEL, WS_EX_RIGHT, 90, 37, 50, 8),
    (40004, EDIT, "", "",
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL
     | ES_READONLY, 0, 15, 89, 271, 101),
    (-1, STATIC, "Hint:", "Hinweisfenster:", LABEL, 0, 15, 79, 49, 8),
    (40007, BUTTON, "Installed firmware version", "Installierte Firmware Versionen",
     WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX, 0, 15, 10, 135, 57),
    (40011, STATIC, "Firmware 3:", "Firmware 3:", LABEL, 0, 22, 50, 60, 8),
    (40015, STATIC, "0.00.00", "0.00.00", LABEL, WS_EX_RIGHT, 90, 50, 50, 8),
]
CAPTIONS = {ENGLISH_NEUTRAL: "VARIDYNE firmware updater", GERMAN: "VARIDYNE Firmware Updater"}
ICON_SIZES_PX = [16, 32, 48, 64, 128]


class Reader:
    def __init__(self, data, offset=0):
        self.data, self.offset = data, offset

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.offset)
        self.offset += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, boundary=4):
        self.offset = (self.offset + boundary - 1) // boundary * boundary

    def sz_or_ord(self):
        if self.take("H") == 0xFFFF:
            return self.take("H")
        self.offset -= 2
        return self.wstring()

    def wstring(self):
        end = self.offset
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.offset:end].decode("utf-16-le")
        self.offset = end + 2
        return text


def read_object(data, coff_offset=0):
    """{(type, name, language): bytes} of the .rsrc section of a COFF object or of a PE
    image whose COFF header is at coff_offset. The directory tree is type, then name, then
    language; in an object file a data entry's address is its offset within the section,
    made absolute by a relocation at link time, in an image it is the data's address."""
    _, sections, _, _, _, optional, _ = struct.unpack_from("<HHIIIHH", data, coff_offset)
    rsrc, base = None, 0
    for k in range(sections):
        header = struct.unpack_from("<8sIIIIIIHHI", data, coff_offset + 20 + optional + 40 * k)
        if header[0].rstrip(b"\0") == b".rsrc":
            rsrc = data[header[4]:header[4] + header[3]]
            base = header[2] if coff_offset else 0
    if rsrc is None:
        raise AssertionError("no .rsrc section")

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", rsrc, offset + 12)
        for k in range(named + numbered):
            name, target = struct.unpack_from("<II", rsrc, offset + 16 + 8 * k)
            if name & 0x80000000:
                r = Reader(rsrc, name & 0x7FFFFFFF)
                length = r.take("H")
                name = rsrc[r.offset:r.offset + 2 * length].decode("utf-16-le")
            yield name, target

    resources = {}
    for kind, kind_dir in entries(0):
        for name, name_dir in entries(kind_dir & 0x7FFFFFFF):
            for language, leaf in entries(name_dir & 0x7FFFFFFF):
                start, size = struct.unpack_from("<II", rsrc, leaf)
                resources[(kind, name, language)] = rsrc[start - base:start - base + size]
    return resources


def read_res(data):
    """{(type, name, language): bytes} of a .res file as rc-compatible compilers write it:
    one record per resource, each a header (sizes, type, name, language) followed by the
    data, both padded to four bytes. The first record is an empty marker."""
    resources = {}
    offset = 0
    while offset < len(data):
        r = Reader(data, offset)
        data_size, header_size = r.take("II")
        kind, name = r.sz_or_ord(), r.sz_or_ord()
        r.align()
        _, _, language = r.take("IHH")
        start = offset + header_size
        if kind != 0:
            resources[(kind, name, language)] = data[start:start + data_size]
        offset = (start + data_size + 3) // 4 * 4
    return resources


def read_resources(path):
    with open(path, "rb") as f:
        data = f.read()
    # A .res file opens with an empty record: data size 0, header size 32.
    if data[:8] == b"\0\0\0\0\x20\0\0\0":
        return read_res(data)
    # A program opens with "MZ" and points at its "PE" signature from offset 0x3C.
    if data[:2] == b"MZ":
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise AssertionError("not a PE image")
        return read_object(data, pe + 4)
    return read_object(data)


def check_dialog(data, language, failures):
    r = Reader(data)
    version, signature, help_id, ex_style, style, count = r.take("HHIIIH")
    if (version, signature, help_id, ex_style) != (1, 0xFFFF, 0, 0):
        failures.append(f"dialog {language:#06x}: not a plain extended template")
    if style != DIALOG_STYLE:
        failures.append(f"dialog {language:#06x}: style {style:#010x}, want {DIALOG_STYLE:#010x}")
    if r.take("hhhh") != (0, 0, 300, 228):
        failures.append(f"dialog {language:#06x}: wrong position or size")
    menu, window_class, caption = r.sz_or_ord(), r.sz_or_ord(), r.wstring()
    if menu != "" or window_class != "":
        failures.append(f"dialog {language:#06x}: has a menu or a class of its own")
    if caption != CAPTIONS[language]:
        failures.append(f"dialog {language:#06x}: caption {caption!r}")
    font = r.take("HHBB"), r.wstring()
    if font != ((8, 0, 0, 1), "MS Shell Dlg"):
        failures.append(f"dialog {language:#06x}: font {font}")
    if count != len(CONTROLS):
        failures.append(f"dialog {language:#06x}: {count} controls, want {len(CONTROLS)}")
        return
    for order, want in enumerate(CONTROLS, 1):
        ident, cls, english, german, want_style, want_ex, *position = want
        r.align()
        help_id, ex, st, x, y, cx, cy, got_id = r.take("IIIhhhhi")
        got_class, text = r.sz_or_ord(), r.sz_or_ord()
        extra = r.take("H")
        r.offset += extra
        text_want = german if language == GERMAN else english
        got = (got_id, got_class, text, st, ex, [x, y, cx, cy], help_id, extra)
        expected = (ident, cls, text_want, want_style, want_ex, position, 0, 0)
        if got != expected:
            failures.append(f"dialog {language:#06x} control {order}: got {got}, want {expected}")


def check_strings(resources, catalogue, failures):
    for language, key in ((ENGLISH_NEUTRAL, "en"), (GERMAN, "de")):
        loaded = {}
        for (kind, block, lang), data in resources.items():
            if kind != RT_STRING or lang != language:
                continue
            r = Reader(data)
            for i in range(16):
                length = r.take("H")
                if length:
                    ident = (block - 1) * 16 + i
                    loaded[ident] = data[r.offset:r.offset + 2 * length].decode("utf-16-le")
                    r.offset += 2 * length
        want = {ident: texts[key] for ident, _, texts in catalogue}
        if loaded != want:
            for ident in sorted(set(loaded) | set(want)):
                if loaded.get(ident) != want.get(ident):
                    failures.append(f"string {ident} ({key}): {loaded.get(ident)!r:.80} "
                                    f"differs from the catalogue")


def check_icons(resources, failures):
    group = resources.get((RT_GROUP_ICON, 123, GERMAN))
    if group is None:
        failures.append("icon group 123 is not stored under German")
        return
    r = Reader(group)
    _, kind, count = r.take("HHH")
    sizes = []
    for _ in range(count):
        width, height, _, _, _, bits, size, ident = r.take("BBBBHHIH")
        sizes.append(width or 256)
        image = resources.get((RT_ICON, ident, GERMAN), b"")
        if image[:4] == b"\x89PNG" or len(image) != size:
            failures.append(f"icon image {ident} is missing or not a bitmap")
            continue
        header = struct.unpack_from("<IiiHHI", image)
        want = (40, width, 2 * width, 1, 32, 0)
        if header != want or width != height or bits != 32:
            failures.append(f"icon image {ident}: header {header}, want {want}")
        # 32-bit colour plus a 1-bit mask with 32-bit aligned rows.
        expected = 40 + width * width * 4 + (width + 31) // 32 * 4 * width
        if len(image) != expected:
            failures.append(f"icon image {ident}: {len(image)} bytes, want {expected}")
    if kind != 1 or sorted(sizes) != ICON_SIZES_PX:
        failures.append(f"icon group 123 holds sizes {sizes}, want {ICON_SIZES_PX}")


def version_nodes(data, offset, end):
    """The children of a version-resource node: (key, value, children) each, where value
    is the text of a text node and the bytes of a binary one."""
    nodes = []
    while offset + 6 <= end:
        r = Reader(data, offset)
        length, value_length, kind = r.take("HHH")
        key = r.wstring()
        r.align()
        if kind == 1:
            value = data[r.offset:r.offset + 2 * value_length].decode("utf-16-le").rstrip("\0")
            r.offset += 2 * value_length
        else:
            value = data[r.offset:r.offset + value_length]
            r.offset += value_length
        r.align()
        nodes.append((key, value, version_nodes(data, r.offset, offset + length)))
        offset = (offset + length + 3) // 4 * 4
    return nodes


def read_version_header(path):
    with open(path, encoding="utf-8") as f:
        defines = dict(re.findall(r"#define ORVANTA_VERSION_(\w+) (\S+)", f.read()))
    numbers = [int(defines[part]) for part in ("MAJOR", "MINOR", "PATCH", "BUILD")]
    return numbers, defines["TEXT"].strip('"')


VERSION_KEYS = {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"}
VERSION_BLOCKS = {"040904b0": (ENGLISH_US, 1200), "040704b0": (GERMAN, 1200)}


def check_version(data, version, failures):
    """One VS_VERSIONINFO: the fixed part's numbers from the version header, and a block of
    texts in each language of the catalogue, announced in the translation list."""
    numbers, text = version
    root = version_nodes(data, 0, len(data))
    if len(root) != 1 or root[0][0] != "VS_VERSION_INFO":
        failures.append("version: not one VS_VERSION_INFO")
        return
    _, fixed, children = root[0]
    fields = struct.unpack_from("<13I", fixed) if len(fixed) == 52 else (0,) * 13
    file_version, product_version = fields[2:4], fields[4:6]
    want_version = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
    if fields[0] != 0xFEEF04BD or file_version != want_version or product_version != want_version:
        failures.append(f"version: fixed part {fields}, want version {numbers}")
    if fields[7:10] != (0, 0x40004, 1):  # no flags, VOS_NT_WINDOWS32, VFT_APP
        failures.append(f"version: flags, system or type {fields[7:10]}")
    if text != ".".join(map(str, numbers)):
        failures.append(f"version: text {text!r} is not the numbers {numbers}")
    sections = {key: (value, nodes) for key, value, nodes in children}
    blocks = {key: {k: v for k, v, _ in nodes} for key, _, nodes in
              sections.get("StringFileInfo", (None, []))[1]}
    if set(blocks) != set(VERSION_BLOCKS):
        failures.append(f"version: text blocks {sorted(blocks)}, want {sorted(VERSION_BLOCKS)}")
    for key, texts in blocks.items():
        wrong = [k for k in VERSION_KEYS if not texts.get(k)] + sorted(set(texts) - VERSION_KEYS)
        if (wrong or texts["CompanyName"] != "VARIDYNE"
                or texts["OriginalFilename"] != "orvanta-updater.exe"
                or texts["FileVersion"] != text or texts["ProductVersion"] != text
                or "ORVANTA 210 HV" not in texts["ProductName"]
                or "ORVANTA 210 HV" not in texts["FileDescription"]
                or not texts["LegalCopyright"].startswith("Copyright")):
            failures.append(f"version: block {key} holds {texts}")
    raw = [v for k, v, _ in sections.get("VarFileInfo", (None, []))[1] if k == "Translation"]
    pairs = sorted(struct.iter_unpack("<HH", raw[0])) if len(raw) == 1 else []
    if pairs != sorted(VERSION_BLOCKS.values()):
        failures.append(f"version: translations {pairs}")


def check(resources, catalogue, image, version, failures):
    kinds = {}
    for key in resources:
        kinds.setdefault((key[0], key[2]), []).append(key[1])
    for language in (ENGLISH_NEUTRAL, GERMAN):
        data = resources.get((RT_DIALOG, 110, language))
        if data is None:
            failures.append(f"dialog 110 missing for language {language:#06x}")
        else:
            check_dialog(data, language, failures)
    check_strings(resources, catalogue, failures)
    check_icons(resources, failures)

    bitmaps = {k: v for k, v in resources.items() if k[0] == RT_BITMAP}
    if [k[1] for k in bitmaps] != [121]:
        failures.append(f"bitmaps: {list(bitmaps)}, want one with id 121")
    for data in bitmaps.values():
        header = struct.unpack_from("<IiiHHI", data)
        if header != (40, 1772, 263, 1, 24, 0):  # positive height: bottom-up
            failures.append(f"bitmap 121: header {header}")

    if resources.get((RT_RCDATA, 157, GERMAN)) != image:
        failures.append("RCDATA 157 under German is not the firmware image")

    manifest = resources.get((RT_MANIFEST, 1, ENGLISH_US), b"").decode("utf-8", "replace")
    if ('level="asInvoker"' not in manifest or 'uiAccess="false"' not in manifest
            or any(w in manifest for w in ("dependency", "dpiAware", "compatibility"))):
        failures.append("manifest 1 under 0x0409 does not ask for asInvoker alone")

    versions = {k: v for k, v in resources.items() if k[0] == RT_VERSION}
    if list(versions) != [(RT_VERSION, 1, NEUTRAL)]:
        failures.append(f"version resources: {list(versions)}, want one, 1, language-neutral")
    for data in versions.values():
        check_version(data, version, failures)

    expected_kinds = {(RT_DIALOG, ENGLISH_NEUTRAL), (RT_DIALOG, GERMAN),
                      (RT_STRING, ENGLISH_NEUTRAL), (RT_STRING, GERMAN), (RT_ICON, GERMAN),
                      (RT_GROUP_ICON, GERMAN), (RT_BITMAP, GERMAN), (RT_RCDATA, GERMAN),
                      (RT_MANIFEST, ENGLISH_US), (RT_VERSION, NEUTRAL)}
    if set(kinds) != expected_kinds:
        failures.append(f"unexpected resource types or languages: "
                        f"{sorted(set(kinds) ^ expected_kinds)}")


def compare(resources, other, failures):
    """Two resource compilers given the same script must produce the same resources."""
    for key in sorted(set(resources) | set(other), key=repr):
        if key not in other:
            failures.append(f"{key} exists only here")
        elif key not in resources:
            failures.append(f"{key} exists only in the other compiler's resources")
        elif resources[key] != other[key]:
            failures.append(f"{key} differs from the other compiler's "
                            f"({len(resources[key])} and {len(other[key])} bytes)")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--object", required=True,
                        help="the compiled resource object, a .res file or the program")
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--image", required=True, help="the firmware image file")
    parser.add_argument("--tools", required=True, help="folder of gen_catalogue.py")
    parser.add_argument("--same-as", help="resources of another compiler that must be equal")
    args = parser.parse_args()
    sys.dont_write_bytecode = True  # leave no cache in the source tree
    sys.path.insert(0, args.tools)
    import gen_catalogue

    resources = read_resources(args.object)
    with open(args.image, "rb") as f:
        image = f.read()
    failures = []
    version = read_version_header(os.path.join(os.path.dirname(__file__), "program_version.h"))
    check(resources, gen_catalogue.parse_catalogue(args.catalogue), image, version, failures)
    if args.same_as:
        compare(resources, read_resources(args.same_as), failures)
    for failure in failures:
        print(failure)
    print(f"{len(resources)} resources checked, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
