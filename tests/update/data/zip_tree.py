# Zips a folder's contents the way Python's zipfile does: modes and links only in the central
# directory (external attributes, made on Unix), links stored as their target text.
#   zip_tree.py <folder> <archive>
import os
import sys
import zipfile

top, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in os.walk(top):
        for name in sorted(dirs + files):
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, top)
            st = os.lstat(path)
            if os.path.islink(path):
                data = os.readlink(path)
            elif os.path.isdir(path):
                continue
            else:
                with open(path, 'rb') as f:
                    data = f.read()
            info = zipfile.ZipInfo(rel)
            info.external_attr = st.st_mode << 16
            info.create_system = 3
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
