"""Drives the program over AT-SPI, as a screen reader would: finds the play button by name and
presses it (the program plays, then stops), reads the velocity of step 1 as a value, raises
it with the slider's Increase action, and writes the tree of one step column to a file.
Run by atspi_e2e.sh inside a private D-Bus session with its own X server."""
import os
import subprocess
import sys
import time

import pyatspi

DEADLINE_S = 20


def wait_for(condition, what):
    end = time.monotonic() + DEADLINE_S
    while time.monotonic() < end:
        try:
            result = condition()
        except Exception:  # the tree may change under a query while the window appears
            result = None
        if result:
            return result
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def application_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def named(root, name):
    return pyatspi.findDescendant(root, lambda node: node is not None and node.name == name)


def action(node, name):
    actions = node.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    assert name in names, f"{node.name} has no action {name}: {names}"
    actions.doAction(names.index(name))


def has_state(node, state):
    return node.getState().contains(state)


def describe(node):
    role = node.getRoleName()
    parts = [f"[{role}] {node.name!r}"]
    try:
        value = node.queryValue()
        parts.append(f"value {value.currentValue:g} of {value.minimumValue:g}..{value.maximumValue:g}")
    except NotImplementedError:
        pass
    if role == "text":
        text = node.queryText()
        parts.append(f"text {text.getText(0, text.characterCount)!r}")
    if node.description:
        parts.append(f"description {node.description!r}")
    try:
        actions = node.queryAction()
        if actions.nActions > 0:
            parts.append("actions " + ", ".join(actions.getName(i) for i in range(actions.nActions)))
    except NotImplementedError:
        pass
    states = [pyatspi.stateToString(s) for s in node.getState().getStates()
              if s in (pyatspi.STATE_CHECKED, pyatspi.STATE_PRESSED, pyatspi.STATE_SELECTED,
                       pyatspi.STATE_CHECKABLE, pyatspi.STATE_FOCUSABLE, pyatspi.STATE_EDITABLE)]
    if states:
        parts.append("states " + " ".join(states))
    return ", ".join(parts)


def step_column_dump(window, step):
    prefix = f"Step {step}"
    lines = []
    for node in window:
        if node is not None and (node.name == prefix or node.name.startswith(prefix + " ")):
            lines.append(describe(node))
    return "\n".join(lines) + "\n"


def main():
    program, work, dump = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else ""
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    log = open(os.path.join(work, "program.log"), "w")
    app_process = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)
    passed = 0
    try:
        app = wait_for(lambda: application_of(app_process.pid), "the program on the AT-SPI bus")
        play = wait_for(lambda: named(app, "Play"), "a node named Play")
        assert play.getRole() == pyatspi.ROLE_PUSH_BUTTON, play.getRoleName()
        window = play.parent

        action(play, "Press")
        wait_for(lambda: has_state(play, pyatspi.STATE_PRESSED), "Play pressed: playing")
        assert play.description.endswith(", playing"), play.description
        action(play, "Press")
        wait_for(lambda: not has_state(play, pyatspi.STATE_PRESSED), "Play released: stopped")
        passed += 1

        velocity = named(window, "Step 1 velocity")
        assert velocity is not None and velocity.getRole() == pyatspi.ROLE_SLIDER
        value = velocity.queryValue()
        before = int(value.currentValue)
        assert 0 <= before <= 127 and value.maximumValue == 127, before
        assert velocity.description == f"Velocity {before}", velocity.description
        action(velocity, "Increase")
        expected = min(before + 1, 127)
        wait_for(lambda: int(velocity.queryValue().currentValue) == expected,
                 f"the velocity to read {expected}")
        assert velocity.description == f"Velocity {expected}", velocity.description
        passed += 1

        text = step_column_dump(window, 3)
        if dump:
            with open(dump, "w") as out:
                out.write(text)
        print(text, end="")
    except AssertionError as error:
        print("FAIL:", error)
        log.flush()
        print(open(os.path.join(work, "program.log")).read())
        print(f"{passed} passed, 1 failed")
        return 1
    finally:
        app_process.terminate()
        try:
            app_process.wait(10)
        except subprocess.TimeoutExpired:
            app_process.kill()
    print(f"{passed} passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
