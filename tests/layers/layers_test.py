"""usage: layers_test.py BUILD_DIR SOURCE_DIR. Every folder under src/ is a layer; a file includes its own layer and
those ranked below it, less the pairs in APART. mpris/ and web/ sit on server beside the shell, reach neither the player
nor the shell nor each other, and only the shell links them, privately, so that nothing built on the shell sees them."""
import pathlib, re, sys
RANK = {"library": 0, "playback": 1, "remote": 2, "server": 3, "mpris": 4, "web": 4, "shell": 5}
APART = {("remote", "playback"), ("mpris", "playback"), ("web", "playback")}  # ranked lower, yet never included
src, faults = pathlib.Path(sys.argv[2]) / "src", []
for path in sorted(path for path in src.rglob("*") if path.suffix in (".h", ".cpp")):
    if (layer := path.relative_to(src).parts[0]) not in RANK:
        faults.append(f"{path}: folder {layer!r} is no known layer")
        continue
    for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        if (include := re.match(r'\s*#\s*include\s*"([a-z_]+)/', line)) and include[1] != layer and (
                RANK.get(include[1], 99) >= RANK[layer] or (layer, include[1]) in APART):
            faults.append(f"{path}:{number}: {layer} includes {include[1]}")
links = [call.split() for call in re.findall(r"target_link_libraries\(\s*tallowcrest_shell\b([^)]*)\)",
                                             (src / "shell/CMakeLists.txt").read_text())]
for hand in ("tallowcrest_mpris", "tallowcrest_web"):  # linked as the last keyword before it in its call says
    words = next((words[:words.index(hand)] for words in links if hand in words), None)
    kind = "missing" if words is None else ([w for w in words if w in ("PUBLIC", "PRIVATE", "INTERFACE")] or [None])[-1]
    kind == "PRIVATE" or faults.append(f"src/shell/CMakeLists.txt: the shell links {hand} {kind}, not PRIVATE")
print("\n".join(faults) or "every include goes down and the hands are linked privately")
sys.exit(bool(faults))
