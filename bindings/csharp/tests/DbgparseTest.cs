// The C# wrapper as a program uses it, for .ci/csharp.sh, which compares
// what it prints and writes with what the dbgparse and qbdump programs do:
//
//   DbgparseTest cases                 the wrapper's own table of cases
//   DbgparseTest convert OUT IN...     each IN's table into OUT/<k>.qb (k from 0)
//   DbgparseTest check TABLE...        per table, "N entries" or its fault as
//                                      "byte N: expected REASON"; the entries
//                                      read must make up the table again
//   DbgparseTest diagnose IN...        the warnings, as dbgparse prints them on
//                                      standard error
//   DbgparseTest list OUT TABLE...     each TABLE's listing into OUT/<k>.dbg (k
//                                      from 0), and the entries it leaves out or
//                                      its fault as qbdump tells them
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using DbgparseLibrary;

internal static class DbgparseTest
{
    // How many warnings dbgparse prints before it only counts the rest.
    private const int MostShown = 20;

    private static int Main(string[] args)
    {
        if (args.Length == 0)
        {
            Console.Error.WriteLine("usage: DbgparseTest cases | convert OUT IN... | check TABLE... | diagnose IN... | list OUT TABLE...");
            return 2;
        }
        switch (args[0])
        {
            case "cases":
                return Cases();
            case "convert":
                for (int k = 2; k < args.Length; ++k)
                {
                    File.WriteAllBytes(Path.Combine(args[1], (k - 2) + ".qb"),
                                       Dbgparse.Convert(File.ReadAllBytes(args[k])));
                }
                return 0;
            case "check":
                return Check(args.Skip(1));
            case "list":
                for (int k = 2; k < args.Length; ++k)
                {
                    List(args[k], Path.Combine(args[1], (k - 2) + ".dbg"));
                }
                return 0;
            case "diagnose":
                foreach (string input in args.Skip(1))
                {
                    IReadOnlyList<DbgparseWarning> warnings = Dbgparse.Diagnose(File.ReadAllBytes(input));
                    foreach (DbgparseWarning warning in warnings.Take(MostShown))
                    {
                        string where = warning.Line == 0 ? input : input + ":" + warning.Line;
                        Console.WriteLine("dbgparse: " + where + ": warning: " + warning.Message);
                    }
                    if (warnings.Count > MostShown)
                    {
                        Console.WriteLine("dbgparse: " + input + ": " + (warnings.Count - MostShown) + " more warnings");
                    }
                }
                return 0;
            default:
                Console.Error.WriteLine("unknown mode " + args[0]);
                return 2;
        }
    }

    private static int Check(IEnumerable<string> tables)
    {
        foreach (string path in tables)
        {
            byte[] table = File.ReadAllBytes(path);
            IReadOnlyList<DbgparseEntry> entries;
            try
            {
                entries = Dbgparse.Entries(table);
            }
            catch (MalformedTableException fault)
            {
                Console.WriteLine(path + ": " + fault.Message);
                continue;
            }
            if (!Encode(entries).SequenceEqual(table))
            {
                Console.Error.WriteLine(path + ": the entries read do not make up the table");
                return 1;
            }
            Console.WriteLine(path + ": " + entries.Count + " entries");
        }
        return 0;
    }

    // The listing of `table` into `output`, and what qbdump prints besides:
    // the first entries left out, then their count, or the fault.
    private static void List(string table, string output)
    {
        DbgparseListing listing;
        try
        {
            listing = Dbgparse.Listing(File.ReadAllBytes(table));
        }
        catch (MalformedTableException fault)
        {
            Console.WriteLine("qbdump: " + table + ": " + fault.Message);
            return;
        }
        File.WriteAllBytes(output, listing.Text);
        foreach (DbgparseLeftOut entry in listing.LeftOut.Take(MostShown))
        {
            Console.WriteLine("qbdump: " + table + ": entry " + entry.Entry + " at byte " + entry.Offset +
                              " left out: " + entry.Message);
        }
        if (listing.LeftOut.Count > MostShown)
        {
            Console.WriteLine("qbdump: " + table + ": " + (listing.LeftOut.Count - MostShown) +
                              " more entries left out, " + listing.LeftOut.Count + " in all");
        }
    }

    // The table the entries describe: marker, value, name, padding, and the end marker.
    private static byte[] Encode(IReadOnlyList<DbgparseEntry> entries)
    {
        var table = new List<byte>();
        foreach (DbgparseEntry entry in entries)
        {
            if (entry.Offset != table.Count)
            {
                return new byte[0];
            }
            table.Add(table.Count == 0 ? (byte)0x01 : (byte)0x00);
            table.Add(0x2B);
            table.AddRange(BitConverter.GetBytes(entry.Checksum));
            table.AddRange(entry.Name);
            table.AddRange(new byte[entry.Padding]);
        }
        table.Add(0x00);
        table.Add(0x00);
        return table.ToArray();
    }

    private static byte[] Ascii(string text)
    {
        return Encoding.ASCII.GetBytes(text);
    }

    // What each case does, and what it must give.
    private sealed class Case
    {
        public string Name;
        public Func<object> Run;
        public string Expected;
    }

    private static string Show(object result)
    {
        var entries = result as IReadOnlyList<DbgparseEntry>;
        if (entries != null)
        {
            return string.Join(" ", entries.Select(e => string.Format(
                "{0:x8}:{1}:{2}@{3}", e.Checksum, Encoding.ASCII.GetString(e.Name), e.Padding, e.Offset)));
        }
        var warnings = result as IReadOnlyList<DbgparseWarning>;
        if (warnings != null)
        {
            return string.Join(" ", warnings.Select(w => w.Kind + ":" + w.Line));
        }
        var listing = result as DbgparseListing;
        if (listing != null)
        {
            return Encoding.ASCII.GetString(listing.Text).Replace("\r\n", "|") + string.Join(
                " ", listing.LeftOut.Select(e => e.Entry + "@" + e.Offset));
        }
        var bytes = result as byte[];
        return bytes != null ? BitConverter.ToString(bytes) : Convert.ToString(result);
    }

    private static int Cases()
    {
        byte[] twoEntries = Ascii("[Checksums]\r\n0x2a9d4b1c player_board\r\n0x0000002a b\r\n");
        byte[] broken = { 0x01, 0x2B, 0x2A, 0x00, 0x00, 0x00, 0x6E, 0x00, 0x2B };
        var cases = new[]
        {
            new Case { Name = "the loaded library is a 2.x", Run = () => Dbgparse.Version.Split('.')[0], Expected = "2" },
            new Case { Name = "no section: the empty table", Run = () => Dbgparse.Convert(Ascii("text")),
                       Expected = "00-00" },
            new Case { Name = "empty input", Run = () => Dbgparse.Convert(new byte[0]), Expected = "00-00" },
            new Case { Name = "two entries read back", Run = () => Dbgparse.Entries(Dbgparse.Convert(twoEntries)),
                       Expected = "2a9d4b1c:player_board:0@0 0000002a:b:0@18" },
            new Case { Name = "padding counted", Run = () => Dbgparse.Entries(new byte[] {
                           0x01, 0x2B, 1, 0, 0, 0, 0x61, 0, 0, 0, 0x2B, 2, 0, 0, 0, 0, 0 }),
                       Expected = "00000001:a:2@0 00000002::0@9" },
            new Case { Name = "a table cut short", Run = () => Dbgparse.Entries(broken),
                       Expected = "MalformedTableException 9" },
            new Case { Name = "the empty byte array is no table", Run = () => Dbgparse.Entries(new byte[0]),
                       Expected = "MalformedTableException 0" },
            new Case { Name = "a warning", Run = () => Dbgparse.Diagnose(Ascii("[Checksums]\r\n0x00000001 b \r\n")),
                       Expected = "NameEndBlank:2" },
            new Case { Name = "no warning on a clean file", Run = () => Dbgparse.Diagnose(twoEntries), Expected = "" },
            new Case { Name = "null to Convert", Run = () => Dbgparse.Convert(null), Expected = "ArgumentNullException" },
            new Case { Name = "null to Entries", Run = () => Dbgparse.Entries(null), Expected = "ArgumentNullException" },
            new Case { Name = "null to Diagnose", Run = () => Dbgparse.Diagnose(null), Expected = "ArgumentNullException" },
            new Case { Name = "a listing", Run = () => Dbgparse.Listing(Dbgparse.Convert(twoEntries)),
                       Expected = "[Checksums]|0x2a9d4b1c player_board|0x0000002a b|" },
            new Case { Name = "a listing leaves out names holding CR", Run = () => Dbgparse.Listing(new byte[] {
                           0x01, 0x2B, 1, 0, 0, 0, 0x0D, 0, 0x2B, 2, 0, 0, 0, 0x61, 0, 0x2B, 3, 0, 0, 0, 0x0A, 0, 0 }),
                       Expected = "[Checksums]|0x00000002 a|1@0 3@14" },
            new Case { Name = "a listing of a table cut short", Run = () => Dbgparse.Listing(broken),
                       Expected = "MalformedTableException 9" },
            new Case { Name = "null to Listing", Run = () => Dbgparse.Listing(null), Expected = "ArgumentNullException" },
        };
        int failed = 0;
        foreach (Case c in cases)
        {
            string got;
            try
            {
                got = Show(c.Run());
            }
            catch (MalformedTableException fault)
            {
                got = "MalformedTableException " + fault.Offset;
                if (fault.Message != "byte " + fault.Offset + ": expected " + fault.Reason || fault.Reason.Length == 0)
                {
                    got += " with the message " + fault.Message;
                }
            }
            catch (Exception other)
            {
                got = other.GetType().Name;
            }
            if (got != c.Expected)
            {
                Console.Error.WriteLine("FAIL " + c.Name + ": got \"" + got + "\", expected \"" + c.Expected + "\"");
                ++failed;
            }
        }
        Console.WriteLine((cases.Length - failed) + " of " + cases.Length + " cases passed");
        return failed == 0 ? 0 : 1;
    }
}
