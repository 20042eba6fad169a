#!/usr/bin/env python3
"""Draws Glimmerstave's 1-bit bitmaps and cursors and writes them as plain PBM files.

Run from anywhere: python3 resources/tools/draw_resources.py
The PBM files under resources/bitmaps and resources/cursors are what the program compiles in;
this script is their source. In every picture '#' is black (drawn in a control's text colour)
and '.' is white (drawn in its background colour). Cursors come as a shape and a mask
(NAME.pbm, NAME.mask.pbm: black in the mask is opaque) with the hot spot in a comment.
"""

from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


class Pic:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    @staticmethod
    def parse(text):
        rows = [r.strip() for r in text.strip().splitlines()]
        pic = Pic(len(rows[0]), len(rows))
        for y, row in enumerate(rows):
            assert len(row) == pic.w, (row, pic.w)
            for x, c in enumerate(row):
                pic.px[y][x] = 1 if c == '#' else 0
        return pic

    def set(self, x, y, v=1):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = v

    def get(self, x, y):
        return self.px[y][x] if 0 <= x < self.w and 0 <= y < self.h else 0

    def rect(self, x0, y0, x1, y1, v=1):
        """Filled, corners inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, v)

    def frame(self, x0, y0, x1, y1, v=1):
        for x in range(x0, x1 + 1):
            self.set(x, y0, v)
            self.set(x, y1, v)
        for y in range(y0, y1 + 1):
            self.set(x0, y, v)
            self.set(x1, y, v)

    def blit(self, other, x0, y0, v=1, scale=1):
        """Sets (to v) the pixels of self under the black pixels of other."""
        for y in range(other.h):
            for x in range(other.w):
                if other.px[y][x]:
                    for dy in range(scale):
                        for dx in range(scale):
                            self.set(x0 + x * scale + dx, y0 + y * scale + dy, v)

    def inverted(self):
        pic = Pic(self.w, self.h)
        pic.px = [[1 - v for v in row] for row in self.px]
        return pic

    def dilated(self):
        pic = Pic(self.w, self.h)
        for y in range(self.h):
            for x in range(self.w):
                if any(self.get(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                    pic.px[y][x] = 1
        return pic

    def union(self, other):
        pic = Pic(self.w, self.h)
        pic.px = [[a | b for a, b in zip(r1, r2)] for r1, r2 in zip(self.px, other.px)]
        return pic

    def pbm(self, comment=None):
        lines = ['P1']
        if comment:
            lines.append('# ' + comment)
        lines.append(f'{self.w} {self.h}')
        for row in self.px:
            lines.append(' '.join(str(v) for v in row))
        return '\n'.join(lines) + '\n'


# A 3 x 5 pixel font for the small words and digits.
GLYPHS = {
    '1': '.#. ##. .#. .#. ###', '2': '##. ..# .#. #.. ###', '3': '##. ..# .#. ..# ##.',
    '4': '#.# #.# ### ..# ..#', '5': '### #.. ##. ..# ##.', '6': '.## #.. ### #.# ###',
    '7': '### ..# .#. .#. .#.', '8': '### #.# ### #.# ###',
    'n': '... ##. #.# #.# #.#', 'e': '... ### #.# #.. .##', 'x': '... #.# .#. .#. #.#',
    't': '.#. ### .#. .#. ..#', 'r': '... #.# ##. #.. #..', 'p': '... ##. #.# ##. #..',
    'a': '... ##. .## #.# .##', 's': '... .## #.. .## ##.',
    'F': '### #.. ##. #.. #..', 'E': '### #.. ##. #.. ###', 'M': '#.# ### ### #.# #.#',
}


def glyph(ch):
    return Pic.parse('\n'.join(GLYPHS[ch].split()))


def text(pic, s, x, y, v=1):
    for ch in s:
        pic.blit(glyph(ch), x, y, v)
        x += 4


bitmaps = {}
cursors = {}

# Play: three bars on a base line, the top of the first bar and the right end of the base cut
# at a slant. Pressed: the same picture in negative.
play = Pic.parse('''
........................
........................
........................
........................
........................
.....#..................
....##..................
...###..................
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###.....##.....##....
...###################..
...##################...
...#################....
........................
........................
........................
''')
bitmaps['PLAY2UP'] = play
bitmaps['PLAY2DN'] = play.inverted()

# On/off: a short line when off; a filled square with a narrow slot when on.
onoff_up = Pic(17, 17)
onoff_up.rect(5, 8, 11, 8)
onoff_dn = Pic(17, 17)
onoff_dn.rect(2, 2, 14, 14)
onoff_dn.rect(8, 4, 8, 12, 0)
bitmaps['ONOFFUP'] = onoff_up
bitmaps['ONOFFDN'] = onoff_dn

up_arrow = Pic.parse('''
.......
...#...
..###..
.#####.
#######
..###..
..###..
..###..
.......
''')
down_arrow = Pic.parse('\n'.join(reversed(
    ['.......', '...#...', '..###..', '.#####.', '#######', '..###..', '..###..', '..###..',
     '.......'])))
bitmaps['UPARROWUP'] = up_arrow
bitmaps['UPARROWDN'] = up_arrow.inverted()
bitmaps['DNARROWUP'] = down_arrow
bitmaps['DNARROWDN'] = down_arrow.inverted()

# Menu buttons: a sign cut out of a filled block; pressed, the sign stands inside a frame.
letter_f = Pic.parse('''
....###
...##..
...##..
.######
...##..
...##..
...##..
...##..
...##..
''')
grid_sign = Pic.parse('''
...#...#...
...#...#...
###########
...#...#...
...#...#...
...#...#...
###########
...#...#...
...#...#...
''')
# Four loops joined by a square of strokes, the same seen from every side.
knot = Pic.parse('''
.##.....##.
#..#...#..#
#..#...#..#
.#########.
...#...#...
...#...#...
.#########.
#..#...#..#
#..#...#..#
.##.....##.
''')
for name, sign in (('FILE', letter_f), ('EDIT', grid_sign), ('MIDI', knot)):
    up = Pic(16, 15)
    up.rect(0, 0, 15, 14)
    x0 = (16 - sign.w) // 2
    y0 = (15 - sign.h) // 2
    up.blit(sign, x0, y0, 0)
    dn = Pic(16, 15)
    dn.frame(0, 0, 15, 14)
    dn.blit(sign, x0, y0, 1)
    bitmaps[name + 'UP'] = up
    bitmaps[name + 'DN'] = dn

# Loop selectors: the digit cut out of a filled block, or inside a frame when down.
for n in range(1, 9):
    up = Pic(10, 18)
    up.rect(0, 0, 9, 17)
    up.blit(glyph(str(n)), 2, 4, 0, scale=2)
    dn = Pic(10, 18)
    dn.frame(0, 0, 9, 17)
    dn.blit(glyph(str(n)), 2, 4, 1, scale=2)
    bitmaps[f'LOOPSCTRL{n}UP'] = up
    bitmaps[f'LOOPSCTRL{n}DN'] = dn

# The step column's background: a block in the column's base colour with the boxes and marks
# in its contrast colour. The velocity track stays open so the area above the level shows it.
note = Pic(37, 162)
note.rect(0, 0, 36, 161)
note.frame(10, 0, 36, 19, 0)             # step number box
note.frame(10, 28, 30, 48, 0)            # on/off box
note.rect(30, 19, 35, 133, 0)            # velocity track
for k in range(5):                       # velocity scale beside the track
    note.set(36, 19 + (114 * k) // 4, 0)
for y in (70, 71, 103, 104):             # note and program rows
    note.set(29, y, 0)
note.rect(0, 56, 26, 56, 0)              # separators above the note and program rows
note.rect(0, 89, 26, 89, 0)
note.rect(0, 121, 26, 121, 0)
note.set(15, 127, 0)                     # pan centre
note.set(15, 128, 0)
for k in range(5):                       # duration scale
    note.set(2 + (26 * k) // 4, 150, 0)
    note.set(2 + (26 * k) // 4, 151, 0)
note.set(0, 133, 0)                      # row marks at the pan and duration bars
note.set(0, 156, 0)
bitmaps['NOTEBMP'] = note

# The main panel's left side: slots for the volume and transpose bars, frames for the menu
# buttons, the tempo field, the play and the mute button, and marks at the bottom.
glob = Pic(79, 166)
glob.rect(0, 0, 78, 165)
glob.frame(1, 1, 8, 137, 0)              # volume slot
glob.frame(9, 1, 16, 137, 0)             # transpose slot
for k in range(11):
    glob.set(17, 2 + (134 * k) // 10, 0)
glob.frame(21, 3, 38, 19, 0)             # File
glob.frame(39, 3, 56, 19, 0)             # Edit
glob.frame(57, 3, 74, 19, 0)             # MIDI
glob.frame(35, 59, 60, 84, 0)            # play
glob.frame(39, 91, 57, 109, 0)           # mute
glob.frame(24, 148, 78, 162, 0)          # tempo field
for x in range(26, 78, 4):               # marks along the bottom
    glob.set(x, 164, 0)
for x in range(20, 75, 6):               # marks between the menu and the play button
    glob.set(x, 30, 0)
bitmaps['GLOBALBMP'] = glob

# The loop panel: "next" and "repeats", each between an up and a down arrow mark.
loop = Pic(125, 20)
loop.frame(0, 0, 124, 19)
small_up = Pic.parse('.#. ###'.replace(' ', '\n'))
small_dn = Pic.parse('### .#.'.replace(' ', '\n'))
loop.blit(small_up, 31, 9)
text(loop, 'next', 36, 7)
loop.blit(small_dn, 53, 9)
loop.blit(small_up, 58, 9)
text(loop, 'repeats', 63, 7)
loop.blit(small_dn, 92, 9)
bitmaps['LOOPBKGBMP'] = loop

# The application icon: a stave of five lines with a row of step blocks on it.
icon = Pic(32, 32)
icon.frame(0, 0, 31, 31)
for y in (8, 12, 16, 20, 24):
    icon.rect(3, y, 28, y)
for i, level in enumerate((20, 12, 16, 8, 20, 16)):
    x = 4 + i * 4
    icon.rect(x, level - 2, x + 2, level + 1)
bitmaps['ICON128'] = icon


def cursor(name, shape, hot, fill=None):
    """fill: opaque white pixels; by default a one-pixel white outline round the shape."""
    if fill is None:
        mask = shape.dilated()
    else:
        mask = shape.union(fill)
    canvas = Pic(32, 32)
    canvas.blit(shape, 0, 0)
    m = Pic(32, 32)
    m.blit(mask, 0, 0)
    cursors[name] = (canvas, m, hot)


ARROW = '''
#...........
##..........
#.#.........
#..#........
#...#.......
#....#......
#.....#.....
#......#....
#.......#...
#........#..
#.....#####.
#..#..#.....
#.#.#..#....
##..#..#....
#....#..#...
.....#..#...
......##....
'''


def arrow_with(extra=None, at=(0, 0)):
    """The arrow pointer, white inside a black outline, with an optional sign at its foot."""
    outline = Pic.parse(ARROW)
    shape = Pic(20, 20)
    shape.blit(outline, 0, 0)
    # Inside is whatever the outside cannot reach without crossing the outline.
    outside = {(19, 19)}
    todo = [(19, 19)]
    while todo:
        x, y = todo.pop()
        for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
            if 0 <= nx < 20 and 0 <= ny < 20 and (nx, ny) not in outside \
                    and not shape.get(nx, ny):
                outside.add((nx, ny))
                todo.append((nx, ny))
    inside = Pic(20, 20)
    for y in range(20):
        for x in range(20):
            if (x, y) not in outside:
                inside.set(x, y)
    if extra is not None:
        sign = Pic(20, 20)
        sign.blit(extra, *at)
        shape = shape.union(sign)
        inside = inside.union(sign.dilated())
    return shape, inside


shape, fill = arrow_with()
cursor('NOCUR', shape, (0, 0), fill)

for name, letter in (('FCUR', 'F'), ('ECUR', 'E'), ('MCUR', 'M')):
    shape, fill = arrow_with(glyph(letter), (13, 13))
    cursor(name, shape, (0, 0), fill)

# Push: the arrow over a small pressed key.
key = Pic.parse('''
#####
#...#
#.#.#
#...#
#####
''')
shape, fill = arrow_with(key, (13, 12))
cursor('PUSHCUR', shape, (0, 0), fill)

fat_up = Pic.parse('''
....#....
...###...
..#####..
.#######.
#########
...###...
...###...
...###...
...###...
...###...
''')
cursor('UPCUR', fat_up, (4, 0))
cursor('DNCUR', Pic.parse('\n'.join(reversed(
    ['....#....', '...###...', '..#####..', '.#######.', '#########', '...###...',
     '...###...', '...###...', '...###...', '...###...']))), (4, 9))

size_h = Pic.parse('''
...#.......#...
..##.......##..
.#############.
###############
.#############.
..##.......##..
...#.......#...
''')
cursor('SIZECUR', size_h, (7, 3))

bar_h = Pic.parse('''
.......#.......
...#...#...#...
..##...#...##..
.#############.
###############
.#############.
..##...#...##..
...#...#...#...
.......#.......
''')
cursor('BARHCUR', bar_h, (7, 4))
bar_v = Pic(9, 15)
for y in range(bar_h.h):
    for x in range(bar_h.w):
        bar_v.px[x][y] = bar_h.px[y][x]
cursor('BARVCUR', bar_v, (4, 7))

i_beam = Pic.parse('''
###.###
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
...#...
###.###
''')
cursor('TEXTCUR', i_beam, (3, 8))

hand = Pic.parse('''
.....##.........
....#..#........
....#..#........
....#..#........
....#..###......
....#..#..###...
.##.#..#..#..##.
#..##..#..#..#.#
#...#........#.#
.#..#..........#
..#............#
..#...........#.
...#..........#.
...#.........#..
....#........#..
....##########..
''')
hand_fill = Pic.parse('''
.....##.........
....####........
....####........
....####........
....######......
....#########...
.##.###########.
################
################
.###############
..##############
..#############.
...############.
...###########..
....##########..
....##########..
''')
cursor('HANDCUR', hand, (5, 0), hand_fill)


def write_all():
    (ROOT / 'bitmaps').mkdir(exist_ok=True)
    (ROOT / 'cursors').mkdir(exist_ok=True)
    files = []
    for name, pic in sorted(bitmaps.items()):
        (ROOT / 'bitmaps' / f'{name}.pbm').write_text(pic.pbm())
        files.append(f'bitmaps/{name}.pbm')
    for name, (shape, mask, hot) in sorted(cursors.items()):
        (ROOT / 'cursors' / f'{name}.pbm').write_text(shape.pbm(f'hotspot {hot[0]} {hot[1]}'))
        (ROOT / 'cursors' / f'{name}.mask.pbm').write_text(mask.pbm())
        files += [f'cursors/{name}.pbm', f'cursors/{name}.mask.pbm']
    qrc = ['<!DOCTYPE RCC>', '<RCC version="1.0">', '<qresource prefix="/glimmerstave">']
    qrc += [f'    <file>{f}</file>' for f in files]
    qrc += ['</qresource>', '</RCC>']
    (ROOT / 'glimmerstave.qrc').write_text('\n'.join(qrc) + '\n')


if __name__ == '__main__':
    write_all()
