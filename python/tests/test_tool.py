"""The stored blocks' dictionaries are the tarsel tool's JSON files."""

import json
import math
import os
import subprocess

import pytest

import tarsel

TOOL = os.environ.get("TARSEL_TOOL")
pytestmark = pytest.mark.skipif(not TOOL, reason="TARSEL_TOOL (the built tarsel tool) not set")


def run_tool(*args):
    env = {k: v for k, v in os.environ.items() if not k.startswith("TARSEL_SIM")}
    done = subprocess.run([TOOL, "--sim", *args], env=env, capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout


def odd_configuration():
    config = tarsel.ClientConfigurations(text1=b"Tarsel", text2=b"a\x00b", text5=b"\xfe" * 20,
                                         int_value1=-7, float_value1=0.1, float_value2=-0.0,
                                         float_value3=math.inf, float_value4=1e-45,
                                         stored_position_count=2)
    config.stored_positions[1].coordinates.rotation_y = 3.25
    config.stored_positions[1].type = 2
    return config


def odd_zones():
    zones = tarsel.ZoneList(list_value1=3)
    zones.zones[9].points[7].rotation_z = -2.5
    zones.zones[0].parameters = [0.1 * i for i in range(9)]
    zones.zones[4].zone_value5 = 2 ** 31 - 1
    return zones


def odd_mapping():
    charts = tarsel.ControlMappingCharts(charts_value2=4)  # charts_value1 is never reported
    entry = charts.mappings[5].second_entries[5]
    entry.entry_value1 = 9
    entry.byte_pairs = [bytes([i, 255 - i]) for i in range(6)]
    entry.byte_groups = [bytes(range(i, i + 7)) for i in range(26)]
    return charts


BLOCKS = [
    ("config", tarsel.ClientConfigurations, "get_client_configurations", odd_configuration),
    ("zones", tarsel.ZoneList, "get_protection_zone", odd_zones),
    ("mapping", tarsel.ControlMappingCharts, "get_control_mapping", odd_mapping),
]


@pytest.mark.parametrize("command,record,read,_", BLOCKS, ids=[b[0] for b in BLOCKS])
def test_a_dump_is_the_dict_of_the_same_block(command, record, read, _):
    # Each run of the tool and each simulated arm starts from the factory block.
    dumped = json.loads(run_tool(command, "dump"))
    mine = getattr(tarsel.Arm(simulated=True), read)().to_dict()
    assert list(dumped) == list(mine)
    assert dumped == mine
    assert record.from_dict(dumped).to_dict() == dumped


@pytest.mark.parametrize("command,record,_,make", BLOCKS, ids=[b[0] for b in BLOCKS])
def test_the_tool_loads_a_dict_and_reads_the_same_back(tmp_path, command, record, _, make):
    mine = make().to_dict()
    sent = tmp_path / "sent.json"
    back = tmp_path / "back.json"
    sent.write_text(json.dumps(mine, allow_nan=False))
    run_tool(command, "load", str(sent), "--read-back", str(back))
    assert json.loads(back.read_text()) == mine


@pytest.mark.parametrize("args,path,read", [
    ("positions --json", [], lambda arm: arm.get_angular_position()),
    ("positions --cartesian --json", [], lambda arm: arm.get_cartesian_position()),
    ("status --json", ["quick_status"], lambda arm: arm.get_quick_status()),
    ("errors list --raw --json", ["entries", 2], lambda arm: arm.get_system_error(2)),
], ids=["angular", "cartesian", "quick status", "error entry"])
def test_other_records_match_the_tools_json(args, path, read):
    shown = json.loads(run_tool(*args.split()))
    for step in path:
        shown = shown[step]
    assert read(tarsel.Arm(simulated=True)).to_dict() == shown
