"""The record classes: attributes, construction, dictionaries, equality."""

import collections.abc
import copy
import json
import math
import re

import pytest

import tarsel

RECORDS = [getattr(tarsel, name) for name in (
    "AngularInfo", "CartesianInfo", "FingersPosition", "AngularPosition", "CartesianPosition",
    "AngularAcceleration", "UserPosition", "Limitation", "TrajectoryPoint", "JoystickCommand",
    "TrajectoryFIFO", "SingularityVector", "ClientConfigurations", "ControlMappingEntry",
    "ControlMapping", "ControlMappingCharts", "Zone", "ZoneList", "GeneralInformations", "Finger",
    "Gripper", "QuickStatus", "ForcesInfo", "SensorsInfo", "SystemError", "PeripheralInfo",
    "SpasmFilter", "ArmInfo")]


def leaves(value):
    """Every scalar of a to_dict() answer."""
    if isinstance(value, dict):
        for key, item in value.items():
            if key != "block":
                yield from leaves(item)
    elif isinstance(value, list):
        for item in value:
            yield from leaves(item)
    else:
        yield value


@pytest.mark.parametrize("record", RECORDS, ids=lambda r: r.__name__)
def test_a_new_record_is_zero_and_documented(record):
    assert record.__doc__
    assert all(v in (0, "", False) or set(str(v)) == {"0"} for v in leaves(record().to_dict()))


def snake(name):
    name = name.replace("UInt", "Uint").replace("UShort", "Ushort")
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name).lower()


@pytest.mark.parametrize("record", RECORDS, ids=lambda r: r.__name__)
def test_attributes_are_the_dict_keys_in_snake_case(record):
    attributes = [n for n, v in vars(record).items() if isinstance(v, property)]
    keys = [k for k in record().to_dict() if k != "block"]
    hidden = ["reserved"] if record is tarsel.ClientConfigurations else []
    assert attributes == [snake(k) for k in keys] + hidden
    assert all(getattr(record, a).__doc__ for a in attributes)


@pytest.mark.parametrize("record,path,default", [
    (tarsel.UserPosition, "type", 1),
    (tarsel.UserPosition, "fingers_mode", 1),
    (tarsel.TrajectoryPoint, "position.fingers_mode", 1),
    (tarsel.TrajectoryPoint, "limitation_flag", 0),
])
def test_init_struct_sets_the_defaults(record, path, default):
    value = record()
    value.init_struct()
    for name in path.split("."):
        value = getattr(value, name)
    assert value == default


def test_keywords_set_fields():
    point = tarsel.UserPosition(type=2, coordinates=tarsel.CartesianInfo(x=0.5, rotation_z=-1))
    assert (point.type, point.coordinates.x, point.coordinates.rotation_z) == (2, 0.5, -1.0)
    with pytest.raises(TypeError, match="'Type'"):
        tarsel.UserPosition(Type=2)


def test_nested_records_are_live_views():
    zones = tarsel.ZoneList()
    zones.zones[3].points[2].y = 2.5
    point = tarsel.TrajectoryPoint()
    limits = point.limits
    del point  # the view keeps its record alive
    limits.limit9 = 7.0
    assert zones.to_dict()["Zones"][3]["Points"][2]["Y"] == 2.5
    assert limits.limit9 == 7.0


def test_lists_are_replaced_whole():
    zone = tarsel.Zone()
    zone.parameters = range(9)
    zone.points = [tarsel.CartesianInfo(z=i) for i in range(8)]
    assert zone.parameters == [float(i) for i in range(9)]
    assert [p.z for p in zone.points] == list(range(8))


@pytest.mark.parametrize("record,attribute,value,error", [
    (tarsel.ClientConfigurations, "text1", b"x" * 21, ValueError),
    (tarsel.ClientConfigurations, "text1", 5, TypeError),
    (tarsel.QuickStatus, "hand_type", 256, ValueError),
    (tarsel.QuickStatus, "hand_type", True, TypeError),
    (tarsel.TrajectoryFIFO, "point_count", 2 ** 31, ValueError),
    (tarsel.TrajectoryFIFO, "point_count", 1.5, TypeError),
    (tarsel.CartesianInfo, "x", 1e39, ValueError),
    (tarsel.CartesianInfo, "x", "1", TypeError),
    (tarsel.Zone, "parameters", [0.0] * 8, ValueError),
    (tarsel.ControlMappingEntry, "byte_pairs", [b"ab"] * 5 + [b"abc"], ValueError),
    (tarsel.AngularPosition, "fingers", tarsel.CartesianInfo(), TypeError),
    (tarsel.SystemError, "flags", [1] * 7, TypeError),
])
def test_attribute_values_are_checked(record, attribute, value, error):
    target = record()
    before = target.to_dict()
    with pytest.raises(error, match=attribute):
        setattr(target, attribute, value)
    assert target.to_dict() == before  # nothing half-set


@pytest.mark.parametrize("value,read,stored", [
    (0.1, 0.1, 0.1),
    (-0.0, -0.0, -0.0),
    (1e-45, 1e-45, 1e-45),
    (3.4028235e38, 3.4028235e38, 3.4028235e38),
    (16777217, 16777216.0, 16777216.0),
    (math.inf, math.inf, "inf"),
    (-math.inf, -math.inf, "-inf"),
    (math.nan, math.nan, "nan"),
])
def test_float_forms(value, read, stored):
    info = tarsel.CartesianInfo(x=value)
    assert repr(info.x) == repr(read)
    assert repr(info.to_dict()["X"]) == repr(stored)


@pytest.mark.parametrize("form,canonical", [
    ("nan", "nan"),
    ("-nan", "-nan"),
    ("0x7fa00001", "0x7fa00001"),  # a signalling NaN: only the dict form keeps it
    ("0xFFC00001", "0xffc00001"),
    ("0x3F800000", 1.0),
    ("+inf", "inf"),
    (1, 1.0),
])
def test_float_bit_patterns_survive_dictionaries(form, canonical):
    info = tarsel.CartesianInfo.from_dict({**tarsel.CartesianInfo().to_dict(), "Y": form})
    assert info.to_dict()["Y"] == canonical
    assert tarsel.CartesianInfo.from_dict(info.to_dict()) == info


@pytest.mark.parametrize("text,form", [
    (b"Tarsel arm", "Tarsel arm"),
    (b"", ""),
    (b"x" * 20, "x" * 20),
    (b"a\x00b", {"hex": "610062" + "00" * 17}),
    (b"\xff", {"hex": "ff" + "00" * 19}),
])
def test_text_forms(text, form):
    config = tarsel.ClientConfigurations(text2=text)
    assert config.text2 == text
    assert config.to_dict()["Text2"] == form
    assert tarsel.ClientConfigurations.from_dict(config.to_dict()).text2 == text


@pytest.mark.parametrize("count,carried", [(-1, 0), (0, 0), (2, 2), (25, 20)])
def test_only_counted_stored_positions_travel(count, carried):
    config = tarsel.ClientConfigurations(stored_position_count=count)
    for i, position in enumerate(config.stored_positions):
        position.parameter = i + 1
    document = config.to_dict()
    assert [p["Parameter"] for p in document["StoredPositions"]] == list(range(1, carried + 1))
    back = tarsel.ClientConfigurations.from_dict(document)
    assert [p.parameter for p in back.stored_positions] == (
        list(range(1, carried + 1)) + [0.0] * (20 - carried))


def blank_zones():
    return tarsel.ZoneList().to_dict()


@pytest.mark.parametrize("change,message", [
    (lambda d: d.pop("ListValue2"), "/ListValue2: missing"),
    (lambda d: d.update(Extra=1), "/Extra: unknown key"),
    (lambda d: d["Zones"].pop(), "/Zones: expected 10 entries, found 9"),
    (lambda d: d["Zones"][3].update(ZoneValue5=2 ** 31), "/Zones/3/ZoneValue5: .* out of the range"),
    (lambda d: d["Zones"][1]["Points"][7].update(X="fast"), "/Zones/1/Points/7/X: expected a number"),
    (lambda d: d["Zones"][0].update(Parameters=None), "/Zones/0/Parameters: expected a list"),
    (lambda d: d.update(block="ClientConfigurations"), "/block: this document holds"),
    (lambda d: d.pop("block"), "/block: missing"),
])
def test_from_dict_names_the_place_it_refuses(change, message):
    document = blank_zones()
    change(document)
    with pytest.raises(ValueError, match=message):
        tarsel.ZoneList.from_dict(document)


def test_text_dict_forms_are_checked():
    document = tarsel.ClientConfigurations().to_dict()
    for bad in ("a\x00b", "x" * 21, {"hex": "00"}):
        with pytest.raises(ValueError, match="/Text1"):
            tarsel.ClientConfigurations.from_dict({**document, "Text1": bad})


@pytest.mark.parametrize("read", [
    "get_angular_position", "get_cartesian_position", "get_actuator_acceleration",
    "get_actual_trajectory_info", "get_singularity_vector", "get_client_configurations",
    "get_control_mapping", "get_protection_zone", "get_general_informations",
    "get_gripper_status", "get_quick_status", "get_forces_info", "get_sensors_info",
    "get_spasm_filter_values", "get_global_trajectory_info",
])
def test_records_round_trip_through_json(arm, read):
    record = getattr(arm, read)()
    document = json.loads(json.dumps(record.to_dict(), allow_nan=False))
    assert type(record).from_dict(document) == record


def test_round_trip_of_peripherals_and_error_entries(arm):
    for record in [*arm.get_peripheral_inventory(), arm.get_system_error(0)]:
        assert type(record).from_dict(json.loads(json.dumps(record.to_dict()))) == record


def test_equality_is_bitwise_and_copies_are_independent():
    a = tarsel.AngularInfo(actuator1=0.0)
    assert a != tarsel.AngularInfo(actuator1=-0.0)
    nan = tarsel.AngularInfo(actuator2=math.nan)
    assert nan == copy.copy(nan)
    b = copy.deepcopy(tarsel.ZoneList())
    b.zones[0].zone_value1 = 1
    assert b != tarsel.ZoneList()
    assert a != "AngularInfo"


def test_repr_names_the_fields():
    assert repr(tarsel.FingersPosition(finger2=0.1)) == (
        "FingersPosition(finger1=0.0, finger2=0.1, finger3=0.0)")
    assert "zones=[10 x Zone]" in repr(tarsel.ZoneList())
    assert "text1=b''" in repr(tarsel.ClientConfigurations())


SEQUENCES = [
    (tarsel.AngularInfo, [f"actuator{i}" for i in range(1, 7)]),
    (tarsel.CartesianInfo, ["x", "y", "z", "rotation_x", "rotation_y", "rotation_z"]),
    (tarsel.FingersPosition, ["finger1", "finger2", "finger3"]),
]
SEQUENCE_NAMES = [record.__name__ for record, _ in SEQUENCES]


def numbered(record, fields):
    """A record whose fields hold 1.5, 2.5, ... in field order."""
    return record(**{name: i + 1.5 for i, name in enumerate(fields)})


@pytest.mark.parametrize("record,fields", SEQUENCES, ids=SEQUENCE_NAMES)
def test_records_of_values_are_sequences(record, fields):
    value = numbered(record, fields)
    values = [getattr(value, name) for name in fields]
    n = len(fields)
    assert isinstance(value, collections.abc.Sequence)
    assert len(value) == n
    assert list(value) == values
    assert [value[i] for i in range(-n, n)] == values + values
    assert value[1:] == values[1:] and value[::-1] == values[::-1]
    assert list(reversed(value)) == values[::-1]
    assert values[-1] in value and 0.25 not in value
    assert (value.index(values[-1]), value.count(values[0])) == (n - 1, 1)
    for index in (n, -n - 1):
        with pytest.raises(IndexError):
            value[index]


@pytest.mark.parametrize("record,fields", SEQUENCES, ids=SEQUENCE_NAMES)
def test_records_of_values_are_set_by_index(record, fields):
    value = record()
    value[-1] = 7
    value[0] = 0.1
    assert (getattr(value, fields[-1]), getattr(value, fields[0])) == (7.0, 0.1)
    value[1:] = range(len(fields) - 1)
    assert [getattr(value, name) for name in fields[1:]] == list(range(len(fields) - 1))
    before = list(value)
    for index, item, error in [
        (len(fields), 1.0, IndexError),
        ("x", 1.0, TypeError),
        (0, "1", TypeError),
        (0, 1e39, ValueError),
        (slice(None), [1.0] * (len(fields) - 1), ValueError),
        (slice(None), [1.0] * (len(fields) - 1) + ["x"], TypeError),
    ]:
        with pytest.raises(error):
            value[index] = item
    with pytest.raises(TypeError):
        del value[0]
    assert list(value) == before  # nothing half-set


@pytest.mark.parametrize("outer,attribute", [
    (tarsel.AngularPosition, "actuators"),
    (tarsel.CartesianPosition, "coordinates"),
    (tarsel.UserPosition, "fingers"),
])
def test_indexing_a_nested_record_changes_its_parent(outer, attribute):
    parent = outer()
    getattr(parent, attribute)[-1] = 4.5
    assert list(getattr(parent, attribute))[-1] == 4.5
    assert parent != outer()


@pytest.mark.parametrize("record,fields", SEQUENCES, ids=SEQUENCE_NAMES)
def test_numpy_takes_records_of_values(record, fields):
    numpy = pytest.importorskip("numpy")
    value = numbered(record, fields)
    assert numpy.asarray(value).tolist() == list(value)
    assert numpy.array([value, value]).shape == (2, len(fields))
